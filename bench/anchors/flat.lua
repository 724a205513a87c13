-- The flat workload as a Lua 5.4 program. Its 100000 statements are valid Lua calls, so Lua
-- reads, compiles and runs the very same script file as one chunk, against one function per
-- statement kind. Each call does the interpreter's work for its statement: the fuel check, the
-- statement's canonical text built from its operands into the record, and the arithmetic on a
-- four-value memory. Usage: lua5.4 flat.lua SCRIPT
local script = arg[1] or error('usage: lua5.4 flat.lua SCRIPT', 0)

local FUEL = 100000
local used, record = 0, {}
local memory = {100.0, 100.0, 100.0, 100.0}
local sign = {1, -1, -1, 1}
local tolerance, aliases, residuals = 1e-12, {}, {}
local report_on, revealed, budget, identity = false, nil, nil, nil

local function spend(text)
  if used == FUEL then error('Out of fuel', 0) end
  used = used + 1
  record[used] = text
end

local function num(x) return tostring(x + 0.0) end

local function residual_now()
  local sum = 0.0
  for i = 1, 4 do sum = sum + sign[i] * memory[i] end
  return sum
end

local statements = {}

function statements.residual(v)
  spend('Residual(' .. num(v or 0) .. ')')
  residuals[#residuals + 1] = residual_now()
end

function statements.report()
  spend('Report')
  report_on = true
end

function statements.harmony(t)
  spend('Harmony(' .. num(t) .. ')')
  tolerance = t
end

function statements.data(i)
  spend('Data(' .. num(i) .. ')')
  local sum = 0.0
  for k = 1, 4 do sum = sum + sign[k] * memory[k] * memory[k] end
  revealed = sum
end

function statements.alias(i, name)
  spend('Alias(' .. i .. ', "' .. name .. '")')
  aliases[name] = i
end

function statements.assert_bounds(lo, hi, i)
  spend('AssertBounds(' .. num(lo) .. ', ' .. num(hi) .. ', ' .. i .. ')')
  local v = memory[i + 1]
  if v < lo or v > hi then error('Bounds assertion failed', 0) end
end

function statements.budget_limit(x)
  spend('BudgetLimit(' .. num(x) .. ')')
  budget = x
end

function statements.link_identity(id)
  spend('LinkIdentity("' .. id .. '")')
  identity = id
end

assert(loadfile(script, 't', statements))()
local r = residual_now()
print(('Status: %s, fuel used %d, residual %s'):format(
  math.abs(r) <= tolerance and 'OPEN' or 'CLOSED', used, num(r)))
