// Shared ground of the reliability tests: the plug-in loaded as the host loads
// it, the stand-in host in strict mode, a shop of documents to work on, the
// store's bytes for before/after comparisons, and child processes for runs
// that must start from a fresh plug-in or may end the process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "host/mazovia_text.h"
#include "standin/veldan_control.h"
#include "tests/support/child_process.h"
#include "tests/support/host_store.h"
#include "tests/support/plugin_library.h"
#include "tests/support/plugin_texts.h"
#include "tests/support/shop.h"

namespace reliability {

using test_host::InstallEntry;
using test_host::LoadPlugin;
using test_host::Plugin;
using test_host::StartAndInstall;
using test_host::StartEntry;

// Puts the stand-in back to its defaults in strict mode, with a settings file
// of this process's own in which "Pytaj" is 1 (no install notice), or what
// the road's place says, unless notice is true (no file: the notice is
// shown). Returns the file's path.
std::string FreshHost(bool notice = false);

// A host variation that every later FreshHost applies (see VsSetVariation).
void UseVariation(const VsVariation& variation);

// Events the host's own hook saw of those it raised itself, without the ones
// a variation raised from inside its own operations.
int HostEventsRaised(int32_t table);

using test_host::AddHeader;
using test_host::AddLine;
using test_host::Bytes;
using test_host::FieldText;
using test_host::MakeHeader;
using test_host::MakeLine;
using test_host::RecordBuffer;
using test_host::StoredHeader;
using test_host::StoredLines;
using test_host::Unreturned;

// Every stored header, in storage order, and the stored lines of the given
// documents, as bytes. Cleared lines (all zero) are left out: a host may drop
// them when it stores a document's lines, or keep them.
struct StoreImage {
    std::vector<std::string> headers;
    std::map<int32_t, std::vector<std::string>> lines;
    bool operator==(const StoreImage&) const = default;
};
StoreImage ImageOfStore(const std::vector<int32_t>& documents);

// Memory of the test's own that ends right where a no-access page begins, as
// the stand-in's strict mode places what it hands out: the plug-in reading or
// writing one byte past it ends the process.
class GuardedBlock {
  public:
    explicit GuardedBlock(size_t size);
    ~GuardedBlock();
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;
    template <typename T>
    T* as() const {
        return static_cast<T*>(start_);
    }

  private:
    void* reservation_ = nullptr;
    void* start_ = nullptr;
};

// ------------------------------------------------------------------ the guest's place
// Where and how the host has the plug-in. By default: beside the program,
// called on the thread that loaded it.
struct GuestPlace {
    // A folder of its own under the temporary folder, by this name: the
    // plug-in copied there with a Quendrix.ini that switches the trace and
    // the journal on, and loaded from there before the road.
    const wchar_t* folder = nullptr;
    size_t path_length = 0;       // nonzero: subfolders make the copy's path this long
    bool diagnostics_fit = true;  // the path leaves room for the diagnostics' files
    bool other_thread = false;    // the road runs on a thread that did not load the plug-in
    // With a folder: the trace records too (Record=1), and its file is kept
    // here before the folder goes.
    const char* recording = nullptr;
    // How the host has had the plug-in in this process before the road: not
    // at all; started, installed and stopped it; started and installed it (the
    // road's start is a second one without a stop); started, installed and
    // stopped it, unloaded it and loaded it again (LoadForRoad).
    enum class Before { kNothing, kStartedAndStopped, kStarted, kUnloadedAndLoaded };
    Before before = Before::kNothing;
    // An older host: the entries its library lacks (the plug-in's lookups,
    // at its import table, find none) and the buttons the user chooses in the
    // missing-entry dialog, the last one again for every dialog after.
    std::vector<int32_t> missing = {};
    std::vector<int> buttons = {};
    // "Pytaj" in the host's settings as FreshHost writes it; null: 1.
    const char* ask = nullptr;
    // With a folder: the journal's File= (null: none, its default name).
    const char* journal_file = nullptr;
};

// The plug-in loaded for a road, as the road's place has had the host start
// it in this process before (GuestPlace::before); the stand-in's logs begin
// after that.
Plugin LoadForRoad();

// Plays road with the plug-in placed so, and afterwards gives back every
// reference to it: the system unloads it, and its next load starts from its
// initial state. A copy is so freed without the host's stop; its
// diagnostics files must have been written where their paths fit, nowhere
// where they do not, and be closed. Returns what was wrong, "" when nothing.
std::string PlayAsGuest(const GuestPlace& place, const std::function<void()>& road);

// ------------------------------------------------------------------ children
// A child process runs this same program with arguments after kChildFlag;
// main() hands them to RunChild, which each test program defines.
inline constexpr const char* kChildFlag = "--reliability-child";
int RunChild(const std::vector<std::string>& arguments);

using test_host::ChildResult;
// Runs one child per argument list, a few at a time, and waits for all.
std::vector<ChildResult> RunChildren(const std::vector<std::vector<std::string>>& argument_lists);

}  // namespace reliability
