// A test host: loads Quendrix.dll as the real host does (beside the stand-in
// VELDAN.dll, entries by ordinal) and offers short ways to seed the stand-in's
// store and to read what the plug-in showed.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_records.h"
#include "host/mazovia_text.h"
#include "standin/veldan_control.h"

// The host's ordinals of the dialog operations, as the call log names them.
inline constexpr int32_t kOpMessage = 52028;
inline constexpr int32_t kOpQuestion = 52029;
inline constexpr int32_t kOpShowText = 52030;
inline constexpr int32_t kOpListDialog = 52026;
inline constexpr int32_t kOpNotice = 52023;
inline constexpr int32_t kOpOpenTable = 52256;
inline constexpr int32_t kOpInterfaceVersion = 51594;
inline constexpr int32_t kOpSaveLines = 52470;
inline constexpr int32_t kOpUpdateLine = 52332;
inline constexpr int32_t kOpProfileValue = 52224;
inline constexpr int32_t kOpAddMenuCommand = 52020;
inline constexpr int32_t kOpRemoveMenuCommand = 52021;
inline constexpr int32_t kOpFindRange = 50516;
inline constexpr int32_t kOpBeginUpdate = 52300;
inline constexpr int32_t kOpEndUpdate = 52302;
inline constexpr int32_t kOpReadAt = 52286;
inline constexpr int32_t kOpWriteAt = 52287;

// The feature text written out byte by byte, independently of the plug-in's
// Mazovia encoder: 0xA1 is Ż and 0xA2 is ó in the host's code page.
inline const std::string kExpectedFeatureText =
    "\x02"
    "DOKUMENTY SPRZEDA\xA1Y:\x01\n1. Por\xA2wnaj WZ z zam\xA2wieniem - Ctrl+9";

using StartEntry = int32_t(__stdcall*)(void* context, char* text_buffer);
using InstallEntry = int32_t(__stdcall*)(int32_t flag);
using IdleEntry = int32_t(__stdcall*)(void);

class PluginHost : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Start (with a context) and install; both must succeed.
    void StartAndInstall();
    int32_t Stop() { return start_(nullptr, nullptr); }

    // The dialog call log since VsReset, and the calls after a mark.
    static int DialogCount() { return VsDialogCallCount(); }
    static const VsDialogCall& Dialog(int index) { return *VsDialogCallAt(index); }
    static std::vector<VsDialogCall> DialogsFrom(int first);

    // The settings file as text ("" when absent), and one value in it.
    std::string ProfileText() const;
    void WriteProfile(const std::string& text) const;

    // The plug-in's own file name, as its STOP report names it.
    std::string PluginFileName() const;

    static void ExpectEverythingGivenBack();

    HMODULE module_ = nullptr;
    StartEntry start_ = nullptr;
    InstallEntry install_ = nullptr;
    IdleEntry idle_ = nullptr;
    int context_ = 0;  // its address is the host context
    std::string profile_path_;
};

// Records built field by field; every other byte is zero.
DocumentHeader MakeHeader(int32_t document_id, int32_t second_id, int16_t customer,
                          const char* number, const char* remarks);
DocumentItem MakeLine(const char* text, int32_t quantity, int16_t article_first,
                      int16_t article_second);

// Into the store; the position or line index.
inline int AddHeader(const DocumentHeader& header) {
    return VsAddHeader(&header);
}
inline int AddLine(int32_t document_id, const DocumentItem& line) {
    return VsAddLine(document_id, &line);
}

// The header at a store position, and a document's stored lines.
DocumentHeader StoredHeader(int position);
std::vector<DocumentItem> StoredLines(int32_t document_id);
DocumentHeader* RecordBuffer();  // table 44's current record

std::string Text(const char* text);  // "" for null
std::string RecordBytes(const void* record, size_t size);
