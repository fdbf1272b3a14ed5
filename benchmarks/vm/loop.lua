local acc, i = 0, 0
while i < 100000000 do
  acc = acc + i
  i = i + 1
end
print(acc)
