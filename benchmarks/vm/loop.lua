local start = os.clock()
local acc, i = 0, 0
while i < 100000000 do
  acc = acc + i
  i = i + 1
end
io.stderr:write(string.format("time %.3f s\n", os.clock() - start))
print(acc)
