#include "ChildProcess.h"

#include "TempDir.h"

namespace {

HANDLE inheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::string textOf(const std::string& path)
{
    const auto bytes = readWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

std::string programBesideThis(const std::string& name)
{
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string path = self;
    return path.substr(0, path.find_last_of("\\/") + 1) + name;
}

ChildRun runBesideThis(const std::string& name, const std::string& arguments, DWORD timeoutMs)
{
    const std::string exe = programBesideThis(name);
    ScopedFile outFile(uniqueTempPath(".out")), errFile(uniqueTempPath(".err"));
    HANDLE out = inheritableFile(outFile.path()), err = inheritableFile(errFile.path());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::string commandLine = "\"" + exe + "\" " + arguments;
    ChildRun run;
    run.started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &startup, &process) != FALSE;
    CloseHandle(out);
    CloseHandle(err);
    if (!run.started)
        return run;
    run.ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!run.ended) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    run.out = textOf(outFile.path());
    run.err = textOf(errFile.path());
    return run;
}
