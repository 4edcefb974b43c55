// The reader's mutation campaign: mutates the seed documents, opens each
// mutant with htfopen.exe (built beside this program) in a child process with
// a time limit, and reports crashes, hangs, damaged heaps, inconsistent DIBs,
// leaks, temporary files left behind and the children's peak memory. Every
// failing document is kept in the keep directory, named after its outcome,
// the campaign's seed and its number, for the regression test to replay.
//
//   mutate [--documents N] [--seed S] [--timeout-ms T] [--keep DIR] [--replay DIR]
//          [--write N PATH] [--write-range FIRST COUNT DIR]
//
// --replay runs the documents of a directory instead of mutants; --write only
// writes mutant N of the campaign to PATH (to look at a document the report
// names); --write-range writes mutants FIRST to FIRST + COUNT - 1 into DIR as
// mutant-N.htf, in one process (for readers other than this one to run them).
// Exits with 1 when any document failed.
#include "DocumentMutator.h"
#include "SeedDocuments.h"
#include "UserMessage.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

std::string tempDirectory()
{
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    return dir;
}

// The children's own temporary directory (see main), so that files of other
// programs in the shared temporary directory are never counted.
std::string childTemp;

std::set<std::string> temporaryFiles()
{
    std::set<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((childTemp + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

HANDLE inheritableFile(const std::string& path)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

enum class Outcome { Ok, Crash, Hang, HeapDamaged, BadDib, Leak, TempLeft, NotStarted };

const char* nameOf(Outcome o)
{
    switch (o) {
    case Outcome::Ok: return "ok";
    case Outcome::Crash: return "crash";
    case Outcome::Hang: return "hang";
    case Outcome::HeapDamaged: return "heap";
    case Outcome::BadDib: return "dib";
    case Outcome::Leak: return "leak";
    case Outcome::TempLeft: return "tempfile";
    default: return "not-started";
    }
}

struct Result {
    Outcome outcome = Outcome::Ok;
    unsigned long peak = 0;         // peak private bytes (page file usage)
    unsigned long workingSet = 0;   // peak working set
    std::string detail;
};

class ChildRunner {
public:
    ChildRunner(std::string exe, std::string work, DWORD timeoutMs)
        : exe_(std::move(exe)), out_(work + "child.out"), err_(work + "child.err"), timeoutMs_(timeoutMs)
    {
    }

    Result open(const std::string& document)
    {
        Result result;
        const std::set<std::string> before = temporaryFiles();
        HANDLE out = inheritableFile(out_), err = inheritableFile(err_);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out;
        startup.hStdError = err;
        PROCESS_INFORMATION process{};
        std::string commandLine = "\"" + exe_ + "\" \"" + document + "\"";
        const BOOL started = CreateProcessA(exe_.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                            nullptr, &startup, &process);
        CloseHandle(out);
        CloseHandle(err);
        if (!started) {
            result.outcome = Outcome::NotStarted;
            return result;
        }
        DWORD code = 0;
        if (WaitForSingleObject(process.hProcess, timeoutMs_) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 10000);
            result.outcome = Outcome::Hang;
        } else {
            GetExitCodeProcess(process.hProcess, &code);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);

        const std::string text = readText(out_);
        const char* peak = std::strstr(text.c_str(), " peak ");
        if (peak)
            result.peak = std::strtoul(peak + 6, nullptr, 10);
        const char* workingSet = std::strstr(text.c_str(), " working-set ");
        if (workingSet)
            result.workingSet = std::strtoul(workingSet + 13, nullptr, 10);
        if (result.outcome == Outcome::Ok) {
            switch (code) {
            case 0: break;
            case 4: result.outcome = Outcome::HeapDamaged; break;
            case 5: result.outcome = Outcome::BadDib; break;
            case 6: result.outcome = Outcome::Leak; break;
            default: result.outcome = Outcome::Crash; break;   // 3, or an exception code
            }
        }
        for (const std::string& name : temporaryFiles()) {
            if (before.count(name))
                continue;
            DeleteFileA((childTemp + name).c_str());
            if (result.outcome == Outcome::Ok)
                result.outcome = Outcome::TempLeft;
            result.detail += "left " + name + "; ";
        }
        if (result.outcome != Outcome::Ok) {
            const std::string errors = readText(err_);
            const size_t crash = errors.find("crash:");
            result.detail += crash != std::string::npos ? errors.substr(crash, errors.find('\n', crash) - crash)
                                                        : "exit code " + std::to_string(code);
        }
        return result;
    }

private:
    std::string exe_, out_, err_;
    DWORD timeoutMs_;
};

std::vector<std::string> filesIn(const std::string& directory)
{
    std::vector<std::string> files;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return files;
    do
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(directory + "\\" + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    printUserMessagesToStderr();
    unsigned long documents = 300;
    unsigned long long seed = GetTickCount();
    DWORD timeoutMs = 20000;
    std::string keep, replay, writePath, writeDir;
    unsigned long writeIndex = 0, writeCount = 0;
    bool writeFailed = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--write" && i + 2 < argc) {
            writeIndex = std::strtoul(argv[i + 1], nullptr, 10);
            writePath = argv[++i + 1];
            documents = writeIndex + 1;
            continue;
        }
        if (option == "--write-range" && i + 3 < argc) {
            writeIndex = std::strtoul(argv[i + 1], nullptr, 10);
            writeCount = std::strtoul(argv[i + 2], nullptr, 10);
            writeDir = argv[i + 3];
            documents = writeIndex + writeCount;
            i += 2;
            continue;
        }
        if (option == "--documents")
            documents = std::strtoul(argv[i + 1], nullptr, 10);
        else if (option == "--seed")
            seed = std::strtoull(argv[i + 1], nullptr, 10);
        else if (option == "--timeout-ms")
            timeoutMs = std::strtoul(argv[i + 1], nullptr, 10);
        else if (option == "--keep")
            keep = argv[i + 1];
        else if (option == "--replay")
            replay = argv[i + 1];
    }

    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exe = self;
    exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "htfopen.exe";
    const std::string work = tempDirectory() + "rozerado-mutate-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(work.c_str(), nullptr);
    childTemp = work + "tmp\\";
    CreateDirectoryA(childTemp.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", childTemp.c_str());   // inherited by every child
    SetEnvironmentVariableA("TEMP", childTemp.c_str());
    ChildRunner runner(exe, work, timeoutMs);

    std::map<Outcome, unsigned long> totals;
    unsigned long peak = 0, workingSet = 0, runs = 0;
    std::string peakDocument, workingSetDocument;
    auto record = [&](const std::string& label, const Result& r, const std::vector<uint8_t>* bytes) {
        ++runs;
        ++totals[r.outcome];
        if (r.peak > peak)
            peak = r.peak, peakDocument = label;
        if (r.workingSet > workingSet)
            workingSet = r.workingSet, workingSetDocument = label;
        if (r.outcome == Outcome::Ok)
            return;
        std::printf("%-9s %s: %s\n", nameOf(r.outcome), label.c_str(), r.detail.c_str());
        if (bytes && !keep.empty()) {
            CreateDirectoryA(keep.c_str(), nullptr);
            const std::string path = keep + "\\" + nameOf(r.outcome) + "-" + std::to_string(seed) + "-" +
                                     std::to_string(runs - 1) + ".htf";
            writeFile(path, *bytes);
            std::printf("          kept as %s\n", path.c_str());
        }
        std::fflush(stdout);
    };

    if (!replay.empty()) {
        for (const std::string& path : filesIn(replay))
            record(path, runner.open(path), nullptr);
    } else {
        const std::vector<SeedDocument> seeds = makeSeedDocuments(work + "seed.tif");
        std::printf("campaign seed %llu: %lu documents mutated from %u seeds, %lu ms each at most\n", seed, documents,
                    unsigned(seeds.size()), static_cast<unsigned long>(timeoutMs));
        std::fflush(stdout);
        MutationRandom random(seed);
        const std::string document = work + "mutant.htf";
        for (unsigned long n = 0; n < documents && !seeds.empty(); ++n) {
            const SeedDocument& from = seeds[random.below(uint32_t(seeds.size()))];
            std::string description;
            const std::vector<uint8_t> bytes = mutateDocument(from.bytes, random, description);
            if (!writePath.empty()) {
                if (n == writeIndex)
                    std::printf("#%lu %s: %s\n", n, from.name.c_str(), description.c_str()), writeFile(writePath, bytes);
                continue;
            }
            if (!writeDir.empty()) {
                if (n >= writeIndex && !writeFile(writeDir + "\\mutant-" + std::to_string(n) + ".htf", bytes)) {
                    std::fprintf(stderr, "mutate: cannot write into %s\n", writeDir.c_str());
                    writeFailed = true;
                    break;
                }
                continue;
            }
            writeFile(document, bytes);
            record("#" + std::to_string(n) + " " + from.name + ": " + description, runner.open(document), &bytes);
        }
        DeleteFileA(document.c_str());
        DeleteFileA((work + "seed.tif").c_str());
    }
    DeleteFileA((work + "child.out").c_str());
    DeleteFileA((work + "child.err").c_str());
    RemoveDirectoryA(childTemp.c_str());
    RemoveDirectoryA(work.c_str());

    const unsigned long failed = runs - totals[Outcome::Ok];
    std::printf("documents %lu  ok %lu  crashes %lu  hangs %lu  heap damage %lu  bad DIBs %lu  leaks %lu  "
                "temporary files left %lu  not started %lu\n",
                runs, totals[Outcome::Ok], totals[Outcome::Crash], totals[Outcome::Hang], totals[Outcome::HeapDamaged],
                totals[Outcome::BadDib], totals[Outcome::Leak], totals[Outcome::TempLeft], totals[Outcome::NotStarted]);
    std::printf("peak private memory of one child %lu KiB (%s)\n", peak / 1024, peakDocument.c_str());
    std::printf("peak working set of one child %lu KiB (%s)\n", workingSet / 1024, workingSetDocument.c_str());
    return failed || writeFailed ? 1 : 0;
}
