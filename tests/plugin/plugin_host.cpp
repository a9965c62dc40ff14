#include "plugin_host.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

void PluginHost::SetUp() {
    VsReset();
    char directory[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof directory, directory), 0u);
    char path[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(directory, "qdx", 0, path), 0u);
    DeleteFileA(path);  // no settings file until the plug-in writes one
    profile_path_ = path;
    VsSetProfilePath(profile_path_.c_str());

    module_ = LoadLibraryA("Quendrix.dll");
    ASSERT_NE(module_, nullptr);
    start_ = reinterpret_cast<StartEntry>(
        reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(30001))));
    install_ = reinterpret_cast<InstallEntry>(
        reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(30008))));
    idle_ = reinterpret_cast<IdleEntry>(
        reinterpret_cast<void*>(GetProcAddress(module_, MAKEINTRESOURCEA(30009))));
    ASSERT_NE(start_, nullptr);
    ASSERT_NE(install_, nullptr);
    ASSERT_NE(idle_, nullptr);
}

void PluginHost::TearDown() {
    if (!profile_path_.empty())
        DeleteFileA(profile_path_.c_str());
}

void PluginHost::StartAndInstall() {
    char text[64] = {};
    ASSERT_EQ(start_(&context_, text), 0);
    ASSERT_EQ(install_(0), 0);
}

std::vector<VsDialogCall> PluginHost::DialogsFrom(int first) {
    std::vector<VsDialogCall> calls;
    for (int i = first; i < VsDialogCallCount(); ++i)
        calls.push_back(*VsDialogCallAt(i));
    return calls;
}

std::string PluginHost::ProfileText() const {
    std::ifstream in(profile_path_, std::ios::binary);
    if (!in)
        return "";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void PluginHost::WriteProfile(const std::string& text) const {
    std::ofstream out(profile_path_, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string PluginHost::PluginFileName() const {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module_, path, sizeof path);
    const char* slash = strrchr(path, '\\');
    return slash != nullptr ? slash + 1 : path;
}

void PluginHost::ExpectEverythingGivenBack() {
    EXPECT_EQ(VsOutstanding(kVsRanges), 0);
    EXPECT_EQ(VsOutstanding(kVsUpdates), 0);
    EXPECT_EQ(VsOutstanding(kVsScans), 0);
    EXPECT_EQ(VsOutstanding(kVsLineArrays), 0);
    EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 0);
}

DocumentHeader MakeHeader(int32_t document_id, int32_t second_id, int16_t customer,
                          const char* number, const char* remarks) {
    DocumentHeader header;
    memset(&header, 0, sizeof header);
    header.document_id = document_id;
    header.second_id = second_id;
    header.customer = customer;
    strncpy(header.number, number, sizeof header.number - 1);
    strncpy(header.remarks, remarks, sizeof header.remarks - 1);
    return header;
}

DocumentItem MakeLine(const char* text, int32_t quantity, int16_t article_first,
                      int16_t article_second) {
    DocumentItem line;
    memset(&line, 0, sizeof line);
    strncpy(line.text, text, sizeof line.text - 1);
    line.quantity = quantity;
    line.article_key_first = article_first;
    line.article_key_second = article_second;
    return line;
}

DocumentHeader StoredHeader(int position) {
    DocumentHeader header;
    memset(&header, 0, sizeof header);
    EXPECT_EQ(VsGetHeader(position, &header), 1);
    return header;
}

std::vector<DocumentItem> StoredLines(int32_t document_id) {
    std::vector<DocumentItem> lines(VsLineCount(document_id));
    for (size_t i = 0; i < lines.size(); ++i)
        VsGetLine(document_id, static_cast<int>(i), &lines[i]);
    return lines;
}

DocumentHeader* RecordBuffer() {
    return static_cast<DocumentHeader*>(VsTable(44)->record);
}

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}

std::string RecordBytes(const void* record, size_t size) {
    return std::string(static_cast<const char*>(record), size);
}
