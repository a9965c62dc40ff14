// Whether this host is the one the plug-in was built for: its interface
// version, and the record sizes of the two tables whose records the plug-in
// reads and writes in place. Every failed record-size test, at start or when
// the hooks are installed, is kept in one list that the STOP report shows.
#pragma once

#include <cstdint>

#include "host/host_records.h"

// One record-size test of one host table. The actual size and the label are
// filled once, by the first test that fills them, and stay as they were.
struct RecordSizeCheck {
    int32_t expected;       // the size the plug-in is built for
    int32_t actual;         // the host's size; 0 when the table could not be opened
    const char* label;      // the table's name in the report; null until filled
    RecordSizeCheck* next;  // the following failed test in CompatibilityList
};

// ------------------------------------------------------------------ its state
// One part of the frame's state (frame/frame_state.h): the start check's two
// tests (the installation keeps two of its own, reconcile/table_hooks.h) and
// CompatibilityList, the failed tests of the whole process, oldest first,
// each at most once, which only ever grows.
struct CompatibilityState {
    RecordSizeCheck StartHeaderCheck = {kHeaderRecordSize, 0, nullptr, nullptr};
    RecordSizeCheck StartLineCheck = {kLineRecordSize, 0, nullptr, nullptr};
    RecordSizeCheck* CompatibilityList = nullptr;
};
extern CompatibilityState& Compatibility;

// The tables' names in the report.
extern const char* const kHeaderTableLabel;  // "Tspr", table 44
extern const char* const kLineTableLabel;    // "Tspr_dok", table 45

// 0 when the plug-in may run on this host, -1 when it may not.
int32_t CheckHostCompatibility();

// Runs the start check's two record-size tests; returns how many tests of the
// whole process have failed so far.
int32_t CheckRecordSizes();

// Appends a failed test to CompatibilityList unless it is already there;
// always -1.
int32_t AddMismatch(RecordSizeCheck* record);

// 0 when the record's sizes agree, otherwise AddMismatch(record).
int32_t AddIfMismatched(RecordSizeCheck* record);

int32_t CountMismatches();

// Fills a record's actual size and label the first time it is asked to; later
// calls leave them as the first one set them.
void FillRecordSizeCheck(RecordSizeCheck* record, int32_t actual, const char* label);

// Tells the user why the plug-in will not be loaded: the record-size report
// when a test failed, otherwise the version-mismatch text.
void ShowIncompatibility();

// The record-size report as ShowIncompatibility shows it, written into buffer
// (always terminated, never beyond size bytes); returns its length.
uint32_t ComposeIncompatibilityReport(char* buffer, uint32_t size);

// Room for the longest report: the full list of four rows and a module path of
// the full 300 bytes.
inline constexpr uint32_t kIncompatibilityReportSize = 1024;
