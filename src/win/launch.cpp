#include "win/launch.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/portal.h"
#include "win/framework.h"

namespace orlimo {

std::string SystemCommandInterpreter() {
    char dir[MAX_PATH] = {};
    UINT n = GetSystemDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return std::string();
    std::string path(dir, n);
    if (path.back() != '\\') path += '\\';
    return path + "cmd.exe";
}

namespace {
// The current environment with name=value added (replacing any variable of
// that name), as a UTF-16 block for CreateProcess.
std::vector<wchar_t> EnvironmentWith(const std::string& name, const std::string& value) {
    std::vector<wchar_t> block;
    const std::wstring prefix = AnsiToWide(name) + L"=";
    if (LPWCH env = GetEnvironmentStringsW()) {
        for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
            if (_wcsnicmp(p, prefix.c_str(), prefix.size()) == 0) continue;
            block.insert(block.end(), p, p + wcslen(p) + 1);
        }
        FreeEnvironmentStringsW(env);
    }
    const std::wstring entry = prefix + AnsiToWide(value);
    block.insert(block.end(), entry.begin(), entry.end());
    block.push_back(L'\0');
    block.push_back(L'\0');
    return block;
}
}  // namespace

bool LaunchAddress(const std::string& address) {
    std::optional<LaunchCommand> cmd = BuildLaunchCommand(address);
    if (!cmd) return false;
    const std::string interpreter = SystemCommandInterpreter();
    if (interpreter.empty()) return false;

    std::vector<char> command_line(cmd->command_line.begin(), cmd->command_line.end());
    command_line.push_back('\0');
    std::vector<wchar_t> environment;
    if (!cmd->env_name.empty()) environment = EnvironmentWith(cmd->env_name, cmd->env_value);

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    BOOL ok = CreateProcessA(interpreter.c_str(), command_line.data(), nullptr, nullptr, FALSE,
                             CREATE_NO_WINDOW | (environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT),
                             environment.empty() ? nullptr : environment.data(),
                             nullptr, &si, &pi);
    if (!ok) return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace orlimo
