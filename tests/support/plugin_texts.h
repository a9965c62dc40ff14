// The plug-in's texts as the tests expect them, byte for byte: the tests'
// own copy, written apart from the plug-in's sources so that a test does not
// read what it checks from the code it checks.
#pragma once

#include <string>

#include "host/mazovia_text.h"

namespace plugin_texts {

// The feature text written out byte by byte, independently of the Mazovia
// encoder too: 0xA1 is Ż and 0xA2 is ó in the host's code page.
inline const std::string kFeatureText =
    "\x02"
    "DOKUMENTY SPRZEDA\xA1Y:\x01\n1. Por\xA2wnaj WZ z zam\xA2wieniem - Ctrl+9";
inline const std::string kInstallNotice = "Zainstalowano wtyczkę do programu:\n"_mz.c_str();

inline const std::string kErrorCaption = "Błąd"_mz.c_str();
inline const std::string kCautionCaption = "Uwaga"_mz.c_str();
inline const std::string kStopCaption = "STOP!!!";

inline const std::string kDiskError = "Błąd operacji dyskowej!"_mz.c_str();
inline const std::string kComparisonDiskError =
    "Błąd operacji dyskowej w PorownajDokumentyZeSoba!"_mz.c_str();
// The comparison refused with nothing changed: the order is gone, no working
// memory, or an order line (its text inserted) would pass 32 bits.
inline const std::string kOrderGone =
    "Błąd w PorownajDokumentyZeSoba: wybranego zamówienia już nie ma!\nMogło zostać usunięte "
    "albo zrealizowane na innym stanowisku.\nNic nie zostało porównane."_mz.c_str();
inline const std::string kComparisonAllocationError =
    "Błąd podczas alokowania pamięci w PorownajDokumentyZeSoba!\nNic nie zostało porównane."_mz
        .c_str();
inline std::string QuantityLimit(const std::string& line_text) {
    return "Błąd w PorownajDokumentyZeSoba: ilość na pozycji zamówienia przekroczyłaby "
           "2147483,647:\n"_mz.c_str() +
           line_text + "\nNic nie zostało porównane."_mz.c_str();
}
inline const std::string kRemarksDiskError =
    "Błąd operacji dyskowej w Numer zamówienia zamiast symbolu!"_mz.c_str();
inline const std::string kAllocationError =
    "Błąd podczas alokowania pamięci w WybierzMM!\nOperacja niekompletna!"_mz.c_str();
inline const std::string kNewerPlugin = "Program wymaga nowszej wtyczki!"_mz.c_str();
// The question before a WZ is compared again; %s takes the earlier remarks.
inline const std::string kCompareAgain =
    "Ten dokument WZ już był porównywany z zamówieniem, które zawierało w uwagach:\n\n%s\n\nCzy "
    "chcesz tą WZ porównać z zamówieniem?"_mz.c_str();
// The refusal when the interface versions differ; both %s take the file name.
inline const std::string kVersionMismatch =
    "Moduł \"%s\" i program występują w różnych wersjach!\n\nZostał zakualizowany tylko program "
    "albo tylko moduł,\na nie oba jednocześnie! Aby naprawić tę sytuację\nzainstaluj "
    "aktualizację programu wraz z modułem \"%s\".\n\nMODUŁ NIE ZOSTANIE ZAŁADOWANY!!!\n"_mz.c_str();

// The refusal report when record sizes differ: one row per table that failed
// its test (label, the plug-in's size, the host's size or "brak"), and the
// plug-in's file name.
inline std::string RefusalRow(const std::string& label, const std::string& plugin,
                              const std::string& host) {
    return "\x01tp25p40\x01" + label + "\t" + plugin + "\t" + host + "\n";
}
inline std::string RefusalReport(const std::string& rows, const std::string& file) {
    return "Rozmiary rekordów niektórych tabel nie zgadzają się\nmiędzy programem a wtyczką \""_mz
               .c_str() +
           kFeatureText + "\":\n\n\x01tl18l33\x01TABELA\tWE WTYCZCE\tW PROGRAMIE\n" + rows +
           "\nModuł wtyczki \x02"_mz.c_str() + file + "\x01\nNIE zostanie załadowany!"_mz.c_str();
}

}  // namespace plugin_texts
