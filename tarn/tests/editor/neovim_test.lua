-- tarn lsp in a real editor: headless Neovim starts the server through its own client, opens a
-- policy with a misspelt keyword and waits for the diagnostic, formats an untidy policy, and asks
-- for hover help on a keyword.
--
--   TARN=build/bin/tarn nvim --headless -u NONE -c 'luafile tarn/tests/editor/neovim_test.lua'
--
-- Exits with status 0 when every check passes, 1 otherwise; what it finds goes to standard error.
local tarn = os.getenv("TARN")
local failures = 0

local function check(ok, what)
  if not ok then
    failures = failures + 1
    io.stderr:write("FAIL: " .. what .. "\n")
  end
end

local function finish()
  io.stderr:write(failures == 0 and "neovim: all checks passed\n" or "neovim: failures\n")
  vim.cmd(failures == 0 and "qall!" or "cquit! 1")
end

if not tarn or vim.fn.executable(tarn) ~= 1 then
  io.stderr:write("FAIL: set TARN to the tarn executable\n")
  vim.cmd("cquit! 1")
end

local root = vim.fn.tempname()
vim.fn.mkdir(root, "p")
local path = root .. "/policy.tarn"
vim.fn.writefile({ 'alias(0, "reserve")', 'asert_bounds(50, 150, "reserve")' }, path)

vim.cmd("edit " .. vim.fn.fnameescape(path))
local buf = vim.api.nvim_get_current_buf()
local client = vim.lsp.start_client({ cmd = { tarn, "lsp" }, root_dir = root, name = "tarn" })
check(client ~= nil, "the client starts")
vim.lsp.buf_attach_client(buf, client)

-- The misspelt keyword: line 2, where the parse fails after its first argument.
local got = vim.wait(3000, function() return #vim.diagnostic.get(buf) > 0 end, 20)
check(got, "a diagnostic arrives within 3 seconds")
local diagnostic = vim.diagnostic.get(buf)[1]
if diagnostic then
  local code = diagnostic.code or (diagnostic.user_data and diagnostic.user_data.lsp.code)
  check(diagnostic.lnum == 1, "the diagnostic is on line 2, not " .. diagnostic.lnum + 1)
  check(diagnostic.col == 15, "the diagnostic is at column 15, not " .. diagnostic.col)
  check(code == "unknown-keyword", "the code is unknown-keyword, not " .. tostring(code))
  check(diagnostic.message:find("assert_bounds", 1, true) ~= nil, "the message names the keyword")
end

-- Formatting an untidy policy that parses.
vim.api.nvim_buf_set_lines(buf, 0, -1, false, { "if_broken{evolve(1)}  // heal", "", "", "report()" })
vim.lsp.buf.formatting_sync(nil, 3000)
local lines = vim.api.nvim_buf_get_lines(buf, 0, -1, false)
check(vim.deep_equal(lines, { "if_broken {", "  evolve(1)", "} // heal", "", "report()" }),
      "the buffer is formatted: " .. vim.inspect(lines))

-- Hover on `evolve` (line 2 of the formatted text).
local params = { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = { line = 1, character = 4 } }
local replies = vim.lsp.buf_request_sync(buf, "textDocument/hover", params, 3000) or {}
local hover = replies[client] and replies[client].result
check(hover ~= nil and hover.contents.value:find("evolve(position)", 1, true) ~= nil,
      "hover shows the form of evolve: " .. vim.inspect(hover))

vim.lsp.stop_client(client)
vim.wait(1000, function() return vim.lsp.get_client_by_id(client) == nil end, 20)
finish()
