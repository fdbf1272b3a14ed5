-- The work of strings.mcbs: a string of 1 048 576 characters built by
-- appending one character at a time (into a table, joined at the end: the
-- Lua idiom), split at the commas, and the occurrences of "mno," counted.
local start = os.clock()
local n = 1048576
local chars = {}
for k = 0, 14 do chars[k] = string.char(97 + k) end
chars[15] = ","
local parts = {}
for i = 0, n - 1 do parts[#parts + 1] = chars[i & 15] end
local s = table.concat(parts)
local pieces = {}
for piece in s:gmatch("[^,]+") do pieces[#pieces + 1] = piece end
local count, at = 0, 1
while true do
  local i, j = s:find("mno,", at, true)
  if not i then break end
  count, at = count + 1, j + 1
end
io.stderr:write(string.format("time %.3f s\n", os.clock() - start))
print(#s)
print(#pieces)
print(count)
