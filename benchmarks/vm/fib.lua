local start = os.clock()
local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
local result = fib(30)
io.stderr:write(string.format("time %.3f s\n", os.clock() - start))
print(result)
