/* The host operations the plug-in calls, one line each.
 *
 * X(name, ordinal, convention, argument bytes, result type, parameters)
 *
 * This one list generates the C++ declarations (host_api.h), the forwarding
 * entries and binding routines (frame/host_entries.S) with their descriptor
 * table and fallbacks (frame/host_binding.cpp), and the stand-in host's export
 * definitions. It must stay plain preprocessor text: the assembler and the
 * build script read it too. The argument bytes of a cdecl operation count its
 * fixed arguments only. Results of type int16_t are 16-bit (in AX).
 */
#ifndef QUENDRIX_HOST_OPERATIONS_H
#define QUENDRIX_HOST_OPERATIONS_H

/* clang-format off */
#define HOST_OPERATIONS(X) \
  X(HostOpenTable,         52256, STDCALL,  4, HostTable*,       (int32_t table_number)) \
  X(HostSetTableMode,      52465, STDCALL,  8, int32_t,          (HostTable* table, int32_t mode)) \
  X(HostMakeKey,           51425, STDCALL, 16, int32_t,          (int32_t key, HostTable** table, KeyBuffer* key_buffer, int32_t value)) \
  X(HostFindRange,         50516, STDCALL, 16, RangeHandle,      (int32_t key, KeyBuffer* key_buffer, HostTable* table, int32_t* count)) \
  X(HostFreeRange,         50704, STDCALL,  4, int32_t,          (RangeHandle* range)) \
  X(HostReadAt,            52286, STDCALL, 20, int32_t,          (UpdateHandle update, int32_t index, HostTable* table, void* buffer, RangeHandle range)) \
  X(HostWriteAt,           52287, STDCALL, 20, int32_t,          (UpdateHandle update, int32_t index, HostTable* table, void* buffer, RangeHandle range)) \
  X(HostBeginUpdate,       52300, STDCALL, 16, int32_t,          (KeyBuffer* key_buffer, int32_t count, UpdateHandle* update, int32_t zero)) \
  X(HostEndUpdate,         52302, STDCALL, 16, int32_t,          (int32_t success, UpdateHandle* update, RangeHandle* range, int32_t* begin_result)) \
  X(HostScanOpen,          52278, STDCALL, 24, int16_t,          (ScanState* scan, HostTable* table, int32_t key, KeyBuffer* key_buffer, int32_t zero1, int32_t zero2)) \
  X(HostScanNext,          52279, STDCALL,  4, int16_t,          (ScanState* scan)) \
  X(HostScanClose,         52281, STDCALL,  4, int32_t,          (ScanState* scan)) \
  X(HostLoadLines,         52328, STDCALL, 24, int32_t,          (DocumentItem*** lines, void** aux, int32_t* count_out, int32_t count, HostTable* table, RangeHandle range)) \
  X(HostFreeLines,         52327, STDCALL, 24, int32_t,          (DocumentItem*** lines, void** aux, int32_t* count_out, int32_t count, HostTable* table, RangeHandle range)) \
  X(HostSaveLines,         52470, STDCALL, 48, int32_t,          (int32_t key, HostTable* table, DocumentItem** lines, int32_t* count, RangeHandle range, int32_t flags, int32_t a7, int32_t a8, int32_t a9, int32_t a10, int32_t a11, int32_t a12)) \
  X(HostUpdateLine,        52332, STDCALL, 16, int32_t,          (int32_t zero, DocumentItem* line, DocumentHeader* header, int32_t one)) \
  X(HostUpdateLines,       52330, STDCALL, 20, int32_t,          (DocumentItem** lines, int32_t count, DocumentHeader* header, int32_t zero1, int32_t zero2)) \
  X(HostUpdateTotals,      52331, STDCALL, 16, int32_t,          (DocumentHeader* header, DocumentHeader* header_again, DocumentItem** lines, int32_t count)) \
  X(HostMessage,           52028, STDCALL, 12, int32_t,          (const char* caption, const char* text, int32_t flags)) \
  X(HostQuestion,          52029, CDECL,   12, int16_t,          (const char* caption, const char* format, int32_t flags, ...)) \
  X(HostShowText,          52030, STDCALL,  4, int32_t,          (const char* text)) \
  X(HostListDialog,        52026, CDECL,   20, int16_t,          (const void* definition, int32_t dialog, int16_t* row, int32_t zero, ListRowCallback row_text)) \
  X(HostNotice,            52023, CDECL,   16, int32_t,          (int32_t dialog, int16_t* flag, int32_t zero, const char* text)) \
  X(HostAddMenuCommand,    52020, STDCALL,  8, int32_t,          (int32_t command, MenuCommandHandler handler)) \
  X(HostRemoveMenuCommand, 52021, STDCALL,  4, int32_t,          (int32_t command)) \
  X(HostCopyText,          52161, STDCALL, 12, char*,            (char* dest, const char* src, uint16_t limit)) \
  X(HostFormatDate,        32008, STDCALL,  8, int32_t,          (char* dest, const void* date)) \
  X(HostConvertText,       52158, STDCALL, 16, int32_t,          (char* dest, const char* src, int32_t from, int32_t to)) \
  X(HostRealloc,           21286, CDECL,    8, void*,            (void* block, uint32_t size)) \
  X(HostFree,              21287, CDECL,    4, void,             (void* block)) \
  X(HostProfileValue,      52224, CDECL,   20, int16_t,          (int16_t operation, const char* section, const char* key, const char* format, va_list args)) \
  X(HostInterfaceVersion,  51594, STDCALL,  0, int32_t,          (void)) \
  X(HostSelectionCount,    51522, STDCALL,  0, int32_t*,         (void)) \
  X(HostSelectionEntries,  51521, STDCALL,  0, SelectionEntry**, (void))
/* clang-format on */

/* The host's exception translator, imported by ordinal when the module loads. */
#define HOST_EXCEPTION_TRANSLATOR_ORDINAL 30005

#endif
