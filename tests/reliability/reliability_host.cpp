#include "reliability_host.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

namespace reliability {

Plugin LoadPlugin() {
    Plugin plugin;
    plugin.module = LoadLibraryA("Quendrix.dll");
    if (plugin.module == nullptr)
        return plugin;
    plugin.start = reinterpret_cast<StartEntry>(
        reinterpret_cast<void*>(GetProcAddress(plugin.module, MAKEINTRESOURCEA(30001))));
    plugin.install = reinterpret_cast<InstallEntry>(
        reinterpret_cast<void*>(GetProcAddress(plugin.module, MAKEINTRESOURCEA(30008))));
    return plugin;
}

namespace {

// The settings file of this process, removed when the process ends: a road
// run is a process of its own, and there are hundreds of them.
struct SettingsFile {
    std::string path;
    ~SettingsFile() {
        if (!path.empty())
            DeleteFileA(path.c_str());
    }
} settings_file;

}  // namespace

std::string FreshHost(bool notice) {
    VsReset();
    VsSetStrict(1);
    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    char path[MAX_PATH] = {};
    snprintf(path, sizeof path, "%squendrix-reliability-%lu.ini", directory,
             static_cast<unsigned long>(GetCurrentProcessId()));
    DeleteFileA(path);
    if (!notice) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "[Quendrix]\r\nPytaj=1\r\n";
    }
    VsSetProfilePath(path);
    settings_file.path = path;
    return path;
}

bool StartAndInstall(const Plugin& plugin) {
    static int context = 0;
    char text[64] = {};
    return plugin.start != nullptr && plugin.start(&context, text) == 0 && plugin.install(0) == 0;
}

namespace {

// Copies a text into a zeroed field, leaving at least its last byte zero.
void CopyField(char* field, size_t width, const char* text) {
    memcpy(field, text, strnlen(text, width - 1));
}

}  // namespace

DocumentHeader MakeHeader(int32_t document_id, int32_t second_id, int16_t customer,
                          const char* number, const char* remarks) {
    DocumentHeader header;
    memset(&header, 0, sizeof header);
    header.document_id = document_id;
    header.second_id = second_id;
    header.customer = customer;
    CopyField(header.number, sizeof header.number, number);
    CopyField(header.remarks, sizeof header.remarks, remarks);
    return header;
}

DocumentItem MakeLine(const char* text, int32_t quantity, int16_t article_first,
                      int16_t article_second) {
    DocumentItem line;
    memset(&line, 0, sizeof line);
    CopyField(line.text, sizeof line.text, text);
    line.quantity = quantity;
    line.article_key_first = article_first;
    line.article_key_second = article_second;
    return line;
}

void AddHeader(const DocumentHeader& header) {
    VsAddHeader(&header);
}

void AddLine(int32_t document_id, const DocumentItem& line) {
    VsAddLine(document_id, &line);
}

std::string Bytes(const void* record, size_t size) {
    return std::string(static_cast<const char*>(record), size);
}

std::string FieldText(const char* field, size_t width) {
    return std::string(field, strnlen(field, width));
}

DocumentHeader* RecordBuffer() {
    return static_cast<DocumentHeader*>(VsTable(kHeaderTable)->record);
}

DocumentHeader StoredHeader(int position) {
    DocumentHeader header;
    memset(&header, 0, sizeof header);
    VsGetHeader(position, &header);
    return header;
}

std::vector<DocumentItem> StoredLines(int32_t document_id) {
    std::vector<DocumentItem> lines(VsLineCount(document_id));
    for (size_t i = 0; i < lines.size(); ++i)
        VsGetLine(document_id, static_cast<int>(i), &lines[i]);
    return lines;
}

StoreImage ImageOfStore(const std::vector<int32_t>& documents) {
    StoreImage image;
    for (int i = 0; i < VsHeaderCount(); ++i)
        image.headers.push_back(Bytes(StoredHeader(i)));
    for (int32_t document : documents)
        for (const DocumentItem& line : StoredLines(document))
            image.lines[document].push_back(Bytes(line));
    return image;
}

GuardedBlock::GuardedBlock(size_t size) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    const size_t pages = (size + page - 1) / page;
    auto* base = static_cast<char*>(
        VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr)
        return;
    DWORD previous = 0;
    VirtualProtect(base + pages * page, page, PAGE_NOACCESS, &previous);
    reservation_ = base;
    start_ = base + pages * page - size;
}

GuardedBlock::~GuardedBlock() {
    if (reservation_ != nullptr)
        VirtualFree(reservation_, 0, MEM_RELEASE);
}

std::string Unreturned() {
    static const char* const kNames[] = {"ranges", "updates", "scans", "line arrays",
                                         "heap blocks"};
    std::string report;
    for (int kind = kVsRanges; kind <= kVsHeapBlocks; ++kind) {
        if (const int held = VsOutstanding(kind); held != 0)
            report += std::to_string(held) + " " + kNames[kind] + " held; ";
    }
    if (const int errors = VsHeapErrors(); errors != 0)
        report += std::to_string(errors) + " blocks or arrays given back wrongly; ";
    return report;
}

// ------------------------------------------------------------------ the shop

namespace shop {
namespace {

DocumentHeader Order(int32_t id, int32_t second, int16_t customer, const char* number,
                     const char* remarks, double gross) {
    DocumentHeader header = MakeHeader(id, second, customer, number, remarks);
    const int32_t date = kDate;
    memcpy(header.issue_date, &date, sizeof date);
    header.gross_value = gross;
    return header;
}

// The lines carry no prices, so the host's recomputations after a change
// leave every value at 0 and a record's bytes say only what the plug-in did.
std::vector<DocumentItem> LinesOfA() {
    return {MakeLine("Śruby M6"_mz, 5000, 1, 1), MakeLine("Nakrętki M6"_mz, 3000, 2, 1),
            MakeLine("Podkładki"_mz, 2000, 4, 1), MakeLine("Transport", 0, 0, 0)};
}

std::vector<DocumentItem> LinesOfB() {
    return {MakeLine("Śruby M6"_mz, 2000, 1, 1), MakeLine("Nakrętki M6"_mz, 3000, 2, 1)};
}

std::vector<DocumentItem> WzLines() {
    return {MakeLine("Śruby M6"_mz, 2000, 1, 1), MakeLine("Wkręty"_mz, 1000, 3, 1),
            MakeLine("Nakrętki M6"_mz, 4000, 2, 1), MakeLine("Dostawa kurierem", 0, 0, 0)};
}

}  // namespace

void Seed(bool compared_before) {
    AddHeader(Order(kOtherOrder, 31, kOtherCustomer, "ZK 9/2024", "inny klient", 90000.0));
    AddLine(kOtherOrder, MakeLine("Śruby M6"_mz, 9000, 1, 1));

    DocumentHeader wz = MakeHeader(kWz, 0, kCustomer, "WZ 5/2024", "");
    if (compared_before) {
        wz.compared_marker = kComparedMarker;
        strcpy(wz.remarks, EarlierRemarks().c_str());
    }
    AddHeader(wz);
    for (const DocumentItem& line : WzLines())
        AddLine(kWz, line);

    for (int i = 0; i < kFillers; ++i) {
        char number[17];
        snprintf(number, sizeof number, "ZK %d/2023", i + 1);
        const int32_t id = kFirstFiller + i;
        AddHeader(Order(id, 5000 + i, kCustomer, number, "", 10000.0 * (i + 1)));
        AddLine(id, MakeLine("Kołki"_mz, 1000, 9, 1));
    }

    AddHeader(Order(kOrderB, 12, kCustomer, "ZK 2/2024", RemarksOf(kOrderB).c_str(), 0.0));
    for (const DocumentItem& line : LinesOfB())
        AddLine(kOrderB, line);
    AddHeader(Order(kOrderA, 11, kCustomer, "ZK 1/2024", RemarksOf(kOrderA).c_str(), 0.0));
    for (const DocumentItem& line : LinesOfA())
        AddLine(kOrderA, line);
}

std::vector<int32_t> Documents() {
    std::vector<int32_t> documents = {kOtherOrder, kWz, kOrderB, kOrderA};
    for (int i = 0; i < kFillers; ++i)
        documents.push_back(kFirstFiller + i);
    return documents;
}

std::string RemarksOf(int32_t order) {
    return order == kOrderA ? "Dostawa do magazynu B"_mz.c_str() : "Zamówienie B, pilne"_mz.c_str();
}

std::string EarlierRemarks() {
    return "Zamówienie ZK 8/2023"_mz.c_str();
}

std::vector<DocumentItem> LinesOfAAfterWz() {
    std::vector<DocumentItem> lines = LinesOfA();
    lines[0].quantity = 3000;        // 5 ordered, 2 delivered
    lines.erase(lines.begin() + 1);  // delivered in full (and more): cleared, not stored
    return lines;
}

std::vector<DocumentItem> WzLinesAfterComparison() {
    std::vector<DocumentItem> lines = WzLines();
    strcpy(lines[1].text, "? Wkręty"_mz);
    strcpy(lines[2].text, "!1 Nakrętki M6"_mz);
    return lines;
}

}  // namespace shop

// ------------------------------------------------------------------ children

namespace {

// Quotes one argument for the system's command-line splitting.
std::string Quoted(const std::string& argument) {
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

struct RunningChild {
    PROCESS_INFORMATION process{};
    std::string output_path;
    size_t index = 0;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Launch(const std::vector<std::string>& arguments, size_t index, RunningChild& child) {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, sizeof program);
    std::string command = Quoted(program) + " " + kChildFlag;
    for (const std::string& argument : arguments)
        command += " " + Quoted(argument);

    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    char path[MAX_PATH] = {};
    if (GetTempFileNameA(directory, "rel", 0, path) == 0)
        return false;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE output = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (output == INVALID_HANDLE_VALUE)
        return false;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    const BOOL started = CreateProcessA(program, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &child.process);
    CloseHandle(output);
    if (!started) {
        DeleteFileA(path);
        return false;
    }
    child.output_path = path;
    child.index = index;
    return true;
}

void Collect(RunningChild& child, ChildResult& result) {
    WaitForSingleObject(child.process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.process.hProcess, &code);
    CloseHandle(child.process.hProcess);
    CloseHandle(child.process.hThread);
    result.exit_code = code;
    result.output = ReadFile(child.output_path);
    DeleteFileA(child.output_path.c_str());
}

}  // namespace

std::vector<ChildResult> RunChildren(const std::vector<std::vector<std::string>>& argument_lists) {
    // The processes spend most of their time starting up under Wine, which a
    // second one at a time overlaps well; more gain little.
    constexpr size_t kAtOnce = 3;
    std::vector<ChildResult> results(argument_lists.size());
    std::vector<RunningChild> running;
    size_t next = 0;
    while (next < argument_lists.size() || !running.empty()) {
        while (next < argument_lists.size() && running.size() < kAtOnce) {
            RunningChild child;
            if (Launch(argument_lists[next], next, child)) {
                running.push_back(child);
            } else {
                results[next].exit_code = 0xFFFFFFFF;
                results[next].output = "the child process could not be started";
            }
            ++next;
        }
        if (running.empty())
            continue;
        std::vector<HANDLE> handles;
        for (const RunningChild& child : running)
            handles.push_back(child.process.hProcess);
        const DWORD signalled = WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                       handles.data(), FALSE, INFINITE);
        size_t done = signalled - WAIT_OBJECT_0;
        if (done >= running.size())
            done = 0;
        Collect(running[done], results[running[done].index]);
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(done));
    }
    return results;
}

}  // namespace reliability

// Every reliability test program starts here: as a child with its arguments,
// or as a GoogleTest program.
int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], reliability::kChildFlag) == 0) {
        setvbuf(stdout, nullptr, _IONBF, 0);
        return reliability::RunChild(std::vector<std::string>(argv + 2, argv + argc));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
