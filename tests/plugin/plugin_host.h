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
#include "tests/support/host_store.h"
#include "tests/support/plugin_library.h"
#include "tests/support/plugin_texts.h"
#include "tests/support/shop.h"

using test_host::IdleEntry;
using test_host::InstallEntry;
using test_host::StartEntry;

// The tables and the hooks in their slots now: before the plug-in installs,
// the host's own, which it must chain to and put back.
struct TableHooks {
    HostTable* headers = VsTable(44);
    HostTable* lines = VsTable(45);
    TableEventHook header_hook = headers->hook;
    TableEventHook line_hook = lines->hook;
};

class PluginHost : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Start (with the host's context) and install; both must succeed.
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

    HMODULE module_ = nullptr;
    StartEntry start_ = nullptr;
    InstallEntry install_ = nullptr;
    IdleEntry idle_ = nullptr;
    void* const context_ = test_host::HostContext();
    std::string profile_path_;
};

// The plug-in started and installed before each test; the dialogs it shows
// after that (past the install notice) are the test's.
class InstalledPlugin : public PluginHost {
  protected:
    void SetUp() override;

    int first_dialog_ = 0;
};

using test_host::AddHeader;
using test_host::AddLine;
using test_host::MakeHeader;
using test_host::MakeLine;
using test_host::MakeOrder;
using test_host::RecordBuffer;
using test_host::StoredHeader;
using test_host::StoredLines;
using test_host::Unreturned;
using namespace plugin_texts;

std::string Text(const char* text);  // "" for null
inline std::string RecordBytes(const void* record, size_t size) {
    return test_host::Bytes(record, size);
}
