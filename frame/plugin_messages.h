// Every text the plug-in shows the user, in one list: what it is called here,
// how it reaches the user, its caption and flags, and its text.
//
// X(identifier, shown by, caption, flags, text)
//
// Captions and texts are written in UTF-8 and become Mazovia bytes (_mz). A
// placeholder (%s, a text) is filled by the plug-in where it composes the
// text, or by the host where the host formats it (a question); a text shown
// through the system's message box is converted to the system's code page
// first (frame/host_binding.cpp). A text marked PartOf is a piece of the
// message above it: the plug-in composes that message from its pieces.
//
// A message is added here and nowhere else in the code: the identifier, the
// entry in MessageId and the list of every message follow from its line, and
// the code shows it by its identifier (ShowMessage, AskQuestion). The install
// guide, plugin/INSTALACJA.txt, names every message that stands on its own
// here in its point 7, and Package.HoldsItsFiles fails while one is missing
// there or the guide names one that is not here (docs/maintaining.md, "Add a
// message").
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "host/host_api.h"
#include "host/mazovia_text.h"

// How a message reaches the user.
enum class ShownBy : uint8_t {
    HostMessage,   // HostMessage(caption, text, flags)
    HostQuestion,  // HostQuestion(caption, text as the format, flags, values...)
    HostShowText,  // HostShowText(text): no caption, no flags
    HostNotice,    // HostNotice(flags: the host's dialog, with its own title, &flag, 0, text)
    SystemBox,     // the system's message box: flags are its style
    PartOf,        // a piece of the message above it
};

/* clang-format off */
#define PLUGIN_MESSAGES(X) \
  /* Binding a host operation the host lacks (frame/host_binding.cpp): the plug-in's */ \
  /* module path (or kUnknownModule), the ordinal and FeatureText; the box's style */ \
  /* 0x2012 is abort, retry and ignore, an error icon, task-modal. */ \
  X(kMissingEntry, SystemBox, "POWAŻNY BŁĄD WTYCZKI"_mz, 0x2012, \
    "W module \x02%s\x01\nbrak wpisu \x02%s\x01\nWywołano z wtyczki \x02%s\x01.\n\n" \
    "Błąd ten można zignorować lecz dalsza praca\n" \
    "programu w tych warunkach może być niebezpieczna.\n\n" \
    "Konieczna jest aktualizacja programu!"_mz) \
  X(kUnknownModule, PartOf, ""_mz, 0, "<nieznany>"_mz) \
  /* A refused start, explained (frame/compatibility.cpp): FeatureText twice. */ \
  X(kVersionMismatch, HostQuestion, "STOP!!!"_mz, kFlagsStop, \
    "Moduł \"%s\" i program występują w różnych wersjach!\n\nZostał zakualizowany tylko program " \
    "albo tylko moduł,\na nie oba jednocześnie! Aby naprawić tę sytuację\nzainstaluj " \
    "aktualizację programu wraz z modułem \"%s\".\n\nMODUŁ NIE ZOSTANIE ZAŁADOWANY!!!\n"_mz) \
  /* FeatureText, then a row per failed test (the row's start, the table's label, */ \
  /* the sizes, kNoTable for a table that did not open), then the tail with the */ \
  /* plug-in's file name. */ \
  X(kRecordSizeReport, HostMessage, "STOP!!!"_mz, kFlagsStop, \
    "Rozmiary rekordów niektórych tabel nie zgadzają się\nmiędzy programem a wtyczką \"%s\":\n\n" \
    "\x01tl18l33\x01TABELA\tWE WTYCZCE\tW PROGRAMIE\n"_mz) \
  X(kRecordSizeRow, PartOf, ""_mz, 0, "\x01tp25p40\x01"_mz) \
  X(kNoTable, PartOf, ""_mz, 0, "brak"_mz) \
  X(kRecordSizeTail, PartOf, ""_mz, 0, "\nModuł wtyczki \x02%s\x01\nNIE zostanie załadowany!"_mz) \
  /* Installation (frame/plugin_entry.cpp, reconcile/table_hooks.cpp): FeatureText. */ \
  X(kNewerPluginNeeded, HostShowText, ""_mz, 0, "Program wymaga nowszej wtyczki!"_mz) \
  X(kInstallNotice, HostNotice, ""_mz, kInstallNoticeDialog, \
    "Zainstalowano wtyczkę do programu:\n%s"_mz) \
  /* After the install (frame/diagnostics.cpp): a diagnostic switched on in */ \
  /* Quendrix.ini whose file could not be opened or may not be used; its path, */ \
  /* or both paths on lines of their own. */ \
  X(kDiagnosticsFileUnopened, HostMessage, "Uwaga"_mz, kFlagsWarning, \
    "Diagnostyka wtyczki włączona w Quendrix.ini\nnie może zapisywać do pliku:\n%s\n" \
    "Pliku nie da się otworzyć do zapisu albo jest to plik samej wtyczki.\n" \
    "Do ponownego uruchomienia programu ta diagnostyka pozostaje wyłączona;\n" \
    "wtyczka poza tym działa normalnie."_mz) \
  /* Ctrl+9 (reconcile/): the remarks the WZ took from its earlier order. */ \
  X(kCompareAgain, HostQuestion, "Uwaga"_mz, kFlagsYesNo, \
    "Ten dokument WZ już był porównywany z zamówieniem, które zawierało w uwagach:\n\n%s\n\n" \
    "Czy chcesz tą WZ porównać z zamówieniem?"_mz) \
  X(kOrderListDiskError, HostMessage, "Błąd"_mz, kFlagsError, "Błąd operacji dyskowej!"_mz) \
  X(kOrderListAllocationError, HostMessage, "Błąd"_mz, kFlagsError, \
    "Błąd podczas alokowania pamięci w WybierzMM!\nOperacja niekompletna!"_mz) \
  X(kComparisonDiskError, HostMessage, "Błąd"_mz, kFlagsError, \
    "Błąd operacji dyskowej w PorownajDokumentyZeSoba!"_mz) \
  /* The comparison refused with nothing changed: the chosen order is gone (used */ \
  /* up or removed at another workstation while the list was open), no working */ \
  /* memory, an order line that would hold more than its 32 bits (its text). */ \
  X(kOrderGone, HostMessage, "Błąd"_mz, kFlagsError, \
    "Błąd w PorownajDokumentyZeSoba: wybranego zamówienia już nie ma!\nMogło zostać usunięte " \
    "albo zrealizowane na innym stanowisku.\nNic nie zostało porównane."_mz) \
  X(kComparisonAllocationError, HostMessage, "Błąd"_mz, kFlagsError, \
    "Błąd podczas alokowania pamięci w PorownajDokumentyZeSoba!\nNic nie zostało porównane."_mz) \
  X(kQuantityLimit, HostMessage, "Błąd"_mz, kFlagsError, \
    "Błąd w PorownajDokumentyZeSoba: ilość na pozycji zamówienia przekroczyłaby " \
    "2147483,647:\n%s\nNic nie zostało porównane."_mz) \
  /* The order's lines stored, its header not written back: the order's number. */ \
  X(kOrderHeaderNotWritten, HostMessage, "Błąd"_mz, kFlagsError, \
    "Błąd operacji dyskowej w PorownajDokumentyZeSoba: nie zapisano nagłówka zamówienia %s!\n" \
    "Pozycje zamówienia zostały zaktualizowane, ale jego nagłówek nie:\n" \
    "sumy zamówienia albo jego zamknięcie są takie jak przed porównaniem.\n" \
    "WZ został oznaczony jako porównany."_mz) \
  /* Command 350 and the remarks it writes (reconcile/order_number_remarks.cpp). */ \
  X(kRemarksDiskError, HostMessage, "Błąd"_mz, kFlagsError, \
    "Błąd operacji dyskowej w Numer zamówienia zamiast symbolu!"_mz)
/* clang-format on */

enum class MessageId : uint8_t {
#define PLUGIN_MESSAGE_ID(id, shown_by, caption, flags, text) id,
    PLUGIN_MESSAGES(PLUGIN_MESSAGE_ID)
#undef PLUGIN_MESSAGE_ID
};

struct PluginMessage {
    const char* identifier;  // as in the list, for reports
    ShownBy shown_by;
    const char* caption;  // "" where the host or the system titles the window
    int32_t flags;
    const char* text;
    size_t length;  // of the text, without its terminator
};

inline constexpr PluginMessage kPluginMessages[] = {
#define PLUGIN_MESSAGE_ENTRY(id, shown_by, caption, flags, text) \
    {#id, ShownBy::shown_by, caption, flags, text, (text).size()},
    PLUGIN_MESSAGES(PLUGIN_MESSAGE_ENTRY)
#undef PLUGIN_MESSAGE_ENTRY
};

constexpr const PluginMessage& Message(MessageId id) {
    return kPluginMessages[static_cast<size_t>(id)];
}

// Shows a message that stands on its own (HostMessage or HostShowText) with
// its text as the list gives it, or with text composed from it.
void ShowMessage(MessageId id);
void ShowMessage(MessageId id, const char* composed);

// Writes the message's text into buffer with its placeholders filled from
// values, as snprintf does: always terminated, never beyond size bytes.
template <typename... Values>
void ComposeMessage(char* buffer, size_t size, MessageId id, Values... values) {
    std::snprintf(buffer, size, Message(id).text, values...);
}

// Shows a message whose placeholders are filled from values, with room for
// values_room bytes of them.
template <MessageId id, size_t values_room, typename... Values>
void ShowFilledMessage(Values... values) {
    char text[Message(id).length + values_room + 1];
    ComposeMessage(text, sizeof text, id, values...);
    ShowMessage(id, text);
}

// Asks a question (HostQuestion), the host filling its placeholders from
// values; the host's 16-bit answer.
template <typename... Values>
int16_t AskQuestion(MessageId id, Values... values) {
    const PluginMessage& message = Message(id);
    return HostQuestion(message.caption, message.text, message.flags, values...);
}
