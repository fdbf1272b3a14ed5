local start = os.clock()
local n = 10000000
local composite = {}
for i = 1, n do composite[i] = false end
local count = 0
for i = 2, n do
  if not composite[i] then
    count = count + 1
    for j = i * i, n, i do composite[j] = true end
  end
end
io.stderr:write(string.format("time %.3f s\n", os.clock() - start))
print(count)
