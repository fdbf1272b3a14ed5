-- The vector benchmark in Lua 5.4: 1 000 000 ints appended, summed by
-- index, then half of them removed from the end one call at a time. Prints
-- the sum as a 32-bit word, as the VM computes it.
local start = os.clock()
local n = 1000000
local t = {}
for i = 0, n - 1 do t[#t + 1] = i end
local s = 0
for i = 1, n do s = s + t[i] end
for i = n, n // 2 + 1, -1 do table.remove(t, i) end
io.stderr:write(string.format("time %.3f s\n", os.clock() - start))
s = s & 0xFFFFFFFF
if s >= 0x80000000 then s = s - 0x100000000 end
print(s)
print(#t)
