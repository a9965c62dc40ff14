// The fields of the document file as bytes of the host's records: shared by
// reading and writing, so that what one writes the other reads back.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "host/host_records.h"
#include "standin/veldan_control.h"

namespace document_file {

// The fields of each object, in the order a new file writes them.
inline constexpr const char* kHeaderFields[] = {"kind",     "number",    "date",         "date_raw",
                                                "customer", "second_id", "document_id",  "marker",
                                                "remarks",  "gross",     "gross_stored", "lines"};
inline constexpr const char* kLineFields[] = {"text",       "quantity", "units",     "article",
                                              "unit_price", "value",    "value_150", "value_202"};

// The stand-in keeps a header's date as yyyymmdd in the date field's first bytes.
inline constexpr size_t kDateOffset = offsetof(DocumentHeader, issue_date);

inline bool ValidDate(int32_t value) {
    const int year = value / 10000, month = value / 100 % 100, day = value % 100;
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= (month == 2 && !leap ? 28 : kDays[month - 1]);
}

inline double GetDouble(const void* record, size_t offset) {
    double value;
    memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

inline void PutDouble(void* record, size_t offset, double value) {
    memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

inline int32_t GetDate(const DocumentHeader& header) {
    int32_t date;
    memcpy(&date, reinterpret_cast<const uint8_t*>(&header) + kDateOffset, sizeof date);
    return date;
}

// A text field as the file holds it: its characters up to the terminator,
// at most size - 1 of them, and zero behind. What the host leaves behind a
// terminator (the old bytes, when it copies a shorter text over a longer)
// is no part of the document.
inline void ClearBehindText(char* field, size_t size) {
    const size_t length = strnlen(field, size - 1);
    memset(field + length, 0, size - length);
}

// A record as the file holds it, every text field so.
inline DocumentHeader AsFileHolds(DocumentHeader header) {
    ClearBehindText(reinterpret_cast<char*>(&header) + kVsHeaderKindOffset, kVsHeaderKindLength);
    ClearBehindText(header.number, sizeof header.number);
    ClearBehindText(header.remarks, sizeof header.remarks);
    return header;
}
inline DocumentItem AsFileHolds(DocumentItem line) {
    ClearBehindText(line.text, sizeof line.text);
    return line;
}

// How many digits before the point a unit price and a line's value may
// have, either way. Whatever quantity a comparison leaves on a line (up to
// 2,147,483.648 units, 7 digits), the value the host recomputes from it is
// within the value's digits, and the total of a document of as many such
// lines as a file can hold stays a finite number: what the reader accepts,
// and what a comparison makes of it, the writer writes and the reader reads
// back.
inline constexpr int kPriceDigits = 14;
inline constexpr int kValueDigits = 21;
static_assert(kValueDigits >= kPriceDigits + 7);

// A line's value when the file gives none: quantity times unit price.
inline double ComputedValue(const DocumentItem& line) {
    return line.quantity / 1000.0 * GetDouble(&line, kVsLineUnitPriceOffset);
}

inline double LinesValue(const std::vector<DocumentItem>& lines) {
    double sum = 0;
    for (const DocumentItem& line : lines)
        sum += GetDouble(&line, kVsLineValueOffset);
    return sum;
}

// A displayed money value as the record holds it: whole ten-thousandths.
inline std::optional<double> Stored(double displayed) {
    const double stored = std::round(displayed * 10000.0);
    if (!std::isfinite(stored) || std::fabs(stored) > 9e15)
        return std::nullopt;
    return stored;
}

}  // namespace document_file
