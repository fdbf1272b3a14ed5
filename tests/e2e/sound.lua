-- Sound files for the audio tests and an independent model of what the sink
-- must have played. Usage:
--   lua5.4 sound.lua make DIR          writes the sample files into DIR
--   lua5.4 sound.lua mixer REC         checks a 16 kHz recording of programs/mixer.mcbs
--   lua5.4 sound.lua player REC DIR    checks a 44.1 kHz recording of programs/player.mcbs
-- A check prints what it found and exits with status 1 on a mismatch.

local function sawtooth(n, step, span, offset)
    local s = {}
    for i = 0, n - 1 do
        local v = (i * step) % span - offset
        if v == 0 then v = 7 end
        s[#s + 1] = v
    end
    return s
end

local A = sawtooth(1600, 997, 40000, 20000)   -- played alone, then over C
local B = sawtooth(1600, 613, 60000, 30000)   -- played at volume 384
local C = {}
for i = 1, 16000 do C[i] = 8000 end           -- stopped while it plays
local P = sawtooth(8820, 331, 50000, 25000)   -- the player's clip (0.2 s)

local function writeSamples(path, s, extra)
    local f = assert(io.open(path, "wb"))
    for i = 1, #s do f:write(string.pack("<i2", s[i])) end
    if extra then f:write(extra) end
    f:close()
end

local function readSamples(path)
    local f = assert(io.open(path, "rb"))
    local data = f:read("a")
    f:close()
    local s = {}
    for pos = 1, #data - 1, 2 do s[#s + 1] = string.unpack("<i2", data, pos) end
    return s
end

local function fail(message)
    io.stderr:write("FAIL: " .. message .. "\n")
    os.exit(1)
end

local function trunc(x) if x >= 0 then return math.floor(x) else return math.ceil(x) end end
local function clamp(x) return math.max(-32768, math.min(32767, x)) end

-- Index of the first sample at or after i that differs from value.
local function skip(rec, i, value)
    while i <= #rec and rec[i] == value do i = i + 1 end
    return i
end

local function expect(rec, i, expected, what)
    for n = 1, #expected do
        if rec[i + n - 1] ~= expected[n] then
            fail(string.format("%s: sample %d is %s, expected %d (recording index %d)", what, n - 1,
                tostring(rec[i + n - 1]), expected[n], i + n - 1))
        end
    end
    return i + #expected
end

local mode = arg[1]
if mode == "make" then
    local dir = arg[2]
    writeSamples(dir .. "/a.raw", A, "\x55")  -- an odd last byte is ignored
    writeSamples(dir .. "/b.raw", B)
    writeSamples(dir .. "/c.raw", C)
    writeSamples(dir .. "/clip.raw", P)
elseif mode == "mixer" then
    local rec = readSamples(arg[2])
    local i = skip(rec, 1, 0)
    if i > #rec then fail("the recording is silent") end
    i = expect(rec, i, A, "A alone")
    if rec[i] ~= 0 then fail("A is followed by " .. tostring(rec[i])) end
    i = skip(rec, i, 0)
    local loud = {}
    for n = 1, #B do loud[n] = clamp((B[n] * 384) // 256) end  -- floor division: an arithmetic shift
    i = expect(rec, i, loud, "B at volume 384")
    if rec[i] ~= 0 then fail("B is followed by " .. tostring(rec[i])) end
    i = skip(rec, i, 0)
    local j = skip(rec, i, 8000)
    if j - i < 1000 then fail(string.format("C alone lasts %d samples", j - i)) end
    local mixed = {}
    for n = 1, #A do mixed[n] = A[n] + 8000 end
    i = expect(rec, j, mixed, "A over C")
    j = skip(rec, i, 8000)
    if j - i < 1000 then fail(string.format("C after A lasts %d samples", j - i)) end
    local tail, total, factor = {}, 8000.0, (0.01 / 8000) ^ 0.00625
    repeat
        total = total * factor
        tail[#tail + 1] = trunc(total)
    until tail[#tail] == 0
    i = expect(rec, j, tail, "fade tail of C")
    local k = skip(rec, i, 0)
    if k <= #rec then fail(string.format("sound after the tail at index %d: %d", k, rec[k])) end
    if #rec - i < 1600 then fail("the recording ends right after the tail") end
    print(string.format("mixer: %d samples recorded, C stopped after %d samples, tail of %d", #rec, j - 1, #tail))
elseif mode == "player" then
    local rec = readSamples(arg[2])
    local i = skip(rec, 1, 0)
    if i > #rec then fail("the recording is silent") end
    i = expect(rec, i, P, "clip")
    local k = skip(rec, i, 0)
    if k <= #rec then fail(string.format("sound after the clip at index %d: %d", k, rec[k])) end
    print(string.format("player: %d samples recorded, the clip of %d samples exact", #rec, #P))
else
    fail("usage: sound.lua make DIR | mixer REC | player REC")
end
