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
