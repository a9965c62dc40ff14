// Shared ground of the reliability tests: the plug-in loaded as the host loads
// it, the stand-in host in strict mode, a shop of documents to work on, the
// store's bytes for before/after comparisons, and child processes for runs
// that must start from a fresh plug-in or may end the process.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/host_records.h"
#include "host/mazovia_text.h"
#include "standin/veldan_control.h"

namespace reliability {

// Ordinals of the host operations as the stand-in's call log names them.
inline constexpr int32_t kOpListDialog = 52026;
inline constexpr int32_t kOpNotice = 52023;
inline constexpr int32_t kOpMessage = 52028;
inline constexpr int32_t kOpQuestion = 52029;
inline constexpr int32_t kOpShowText = 52030;
inline constexpr int32_t kOpCopyText = 52161;
inline constexpr int32_t kOpSelectionEntries = 51521;

inline constexpr int16_t kAnswerEscape = 27;

using StartEntry = int32_t(__stdcall*)(void* context, char* text_buffer);
using InstallEntry = int32_t(__stdcall*)(int32_t flag);

// Quendrix.dll loaded from beside the program, with its two working entries.
struct Plugin {
    HMODULE module = nullptr;
    StartEntry start = nullptr;
    InstallEntry install = nullptr;
};
Plugin LoadPlugin();

// Puts the stand-in back to its defaults in strict mode, with a settings file
// of this process's own in which "Pytaj" is 1 (no install notice) unless
// notice is true (no file: the notice is shown). Returns the file's path.
std::string FreshHost(bool notice = false);

// Start with a context, then install; true when both returned 0.
bool StartAndInstall(const Plugin& plugin);

// Records built field by field; every other byte is zero.
DocumentHeader MakeHeader(int32_t document_id, int32_t second_id, int16_t customer,
                          const char* number, const char* remarks);
DocumentItem MakeLine(const char* text, int32_t quantity, int16_t article_first,
                      int16_t article_second);
void AddHeader(const DocumentHeader& header);
void AddLine(int32_t document_id, const DocumentItem& line);

std::string Bytes(const void* record, size_t size);
template <typename Record>
std::string Bytes(const Record& record) {
    return Bytes(&record, sizeof record);
}
// A text field read no further than its width.
std::string FieldText(const char* field, size_t width);
DocumentHeader* RecordBuffer();  // table 44's current record
DocumentHeader StoredHeader(int position);
std::vector<DocumentItem> StoredLines(int32_t document_id);

// Every stored header, in storage order, and the stored lines of the given
// documents, as bytes.
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

// What the plug-in still holds of what the host handed out, as text: "" when
// everything was given back.
std::string Unreturned();

// ------------------------------------------------------------------ the shop
// One customer with two orders that a WZ can be compared with (A partly
// delivered by it, B used up by it), 31 more orders of the same customer so
// that the order list needs a second block, an order of another customer, and
// the WZ. A is the last header in storage order.
namespace shop {
inline constexpr int16_t kCustomer = 7;
inline constexpr int16_t kOtherCustomer = 8;
inline constexpr int32_t kOrderA = 100;
inline constexpr int32_t kOrderB = 110;
inline constexpr int32_t kOtherOrder = 300;
inline constexpr int32_t kWz = 200;
inline constexpr int32_t kFirstFiller = 1000;
inline constexpr int kFillers = 31;
inline constexpr int kRowOfB = kFillers;      // rows follow storage order
inline constexpr int kRowOfA = kFillers + 1;  // the last row
inline constexpr int32_t kDate = 20240105;    // yyyymmdd, as the stand-in keeps dates

// Fills the store; with compared_before the WZ carries the marker 2000 and the
// remarks an earlier comparison gave it.
void Seed(bool compared_before = false);
std::vector<int32_t> Documents();  // every document identifier of the shop
std::string RemarksOf(int32_t order);
std::string EarlierRemarks();  // the WZ's remarks when compared before

// The stored lines of A after the WZ was applied to it (B keeps no article
// line), and the WZ's lines as the comparison with either order marks them.
std::vector<DocumentItem> LinesOfAAfterWz();
std::vector<DocumentItem> WzLinesAfterComparison();
}  // namespace shop

// ------------------------------------------------------------------ children
// A child process runs this same program with arguments after kChildFlag;
// main() hands them to RunChild, which each test program defines.
inline constexpr const char* kChildFlag = "--reliability-child";
int RunChild(const std::vector<std::string>& arguments);

struct ChildResult {
    uint32_t exit_code = 0;
    std::string output;  // standard output and error together
};
// Runs one child per argument list, a few at a time, and waits for all.
std::vector<ChildResult> RunChildren(const std::vector<std::vector<std::string>>& argument_lists);

}  // namespace reliability
