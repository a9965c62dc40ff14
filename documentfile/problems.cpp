// The one place where a document file's problems become Polish: what is
// wrong, where, and where it helps, what to write instead.
#include "documentfile/problems.h"

#include <cctype>
#include <cstdio>

namespace document_file {

std::string Quote(const std::string& text) {
    return "„" + text + "”";
}

namespace {

std::string Field(const Problem& p) {
    return "pole " + Quote(p.field);
}

std::string Number(int64_t value) {
    return std::to_string(value);
}

// "dokument WZ/2/2026 (nagłówek 3, wiersz 1)", "wiersze bez nagłówka (grupa 1)", "plik".
std::string Place(const std::string& document, int header, int row, int group) {
    const std::string more = row ? ", wiersz " + Number(row) : "";
    if (group)
        return "wiersze bez nagłówka (grupa " + Number(group) + more + ")";
    if (!header)
        return "plik";
    const std::string at = "nagłówek " + Number(header) + more;
    return document.empty() ? at : "dokument " + document + " (" + at + ")";
}

bool AllDigits(const std::string& text, size_t from) {
    if (from >= text.size())
        return false;
    for (size_t i = from; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

// A number the file has written in quotes, or with a decimal comma: what to
// write instead, or "" when it looks like no number.
std::string AsNumber(const std::string& written) {
    if (written.size() < 3 || written.front() != '"' || written.back() != '"')
        return "";
    std::string inside = written.substr(1, written.size() - 2);
    const size_t comma = inside.find(',');
    if (comma != std::string::npos)
        inside[comma] = '.';
    const size_t sign = inside[0] == '-' ? 1 : 0;
    const size_t dot = inside.find('.');
    const bool number = dot == std::string::npos
                            ? AllDigits(inside, sign)
                            : AllDigits(inside.substr(0, dot), sign) && AllDigits(inside, dot + 1);
    if (!number)
        return "";
    return comma != std::string::npos ? ", z kropką zamiast przecinka i bez cudzysłowu: " + inside
                                      : ", bez cudzysłowu: " + inside;
}

std::string Syntax(const Problem& p) {
    switch (p.kind) {
        case Fault::kEndInside:
            return "plik się urywa: brakuje " + Quote(p.found) + " zamykającego " +
                   (p.found == "}"   ? "obiekt otwarty"
                    : p.found == "]" ? "listę otwartą"
                                     : "tekst otwarty") +
                   " w wierszu " + Number(p.other_line) + ", kolumnie " + Number(p.other_column);
        case Fault::kUnclosedText:
            return "tekst w cudzysłowie nie jest zamknięty przed końcem wiersza; dopisz "
                   "zamykający cudzysłów \"";
        case Fault::kControlInText:
            return p.number == '\t'
                       ? "w tekście w cudzysłowie stoi tabulator; zamień go na spację albo "
                         "zapisz jako \\t"
                       : "w tekście w cudzysłowie stoi znak sterujący o kodzie " +
                             Number(p.number) + "; usuń go";
        case Fault::kBadEscape:
            return "nieznany zapis " + Quote(p.found) +
                   " w tekście: po \\ może stać tylko \", \\, /, b, f, n, r, t albo u i cztery "
                   "cyfry szesnastkowe; sam znak \\ zapisuje się jako \\\\";
        case Fault::kUnknownWord:
            return "nieznane słowo " + Quote(p.found) +
                   ": tekst zapisuje się w cudzysłowie, np. \"" + p.found +
                   "\"; bez cudzysłowu wolno pisać tylko liczby, true, false i null";
        case Fault::kApostrophes:
            return "tekst zapisuje się w cudzysłowie \"…\", nie w apostrofach '…'";
        case Fault::kComment:
            return "plik JSON nie może zawierać komentarzy (// albo /* */); usuń je";
        case Fault::kBadNumber:
            return "błędna liczba " + Quote(p.found) +
                   ": liczby pisze się jak 12, -3 albo 0.5 (cyfry przed kropką i po niej, bez "
                   "zer na początku)";
        case Fault::kDecimalComma: {
            std::string dot = p.found;
            const size_t comma = dot.find(',');
            dot.erase(comma + 1, dot.find_first_not_of(' ', comma + 1) - comma - 1);
            dot[comma] = '.';
            return "liczba " + Quote(p.found) +
                   (p.field.empty() ? "" : " w polu " + Quote(p.field)) +
                   " z przecinkiem: część dziesiętną oddziela kropka, napisz " + dot;
        }
        case Fault::kTrailingComma:
            return p.found == "}" ? "po ostatnim polu obiektu stoi przecinek (przed „}”); usuń go"
                                  : "po ostatnim elemencie listy stoi przecinek (przed „]”); usuń "
                                    "go";
        case Fault::kMissingComma:
            return p.found == "}" ? "brakuje przecinka po wartości pola " + Quote(p.field) +
                                        ": pola obiektu oddziela „,”, a obiekt zamyka „}”"
                                  : "brakuje przecinka między elementami listy: elementy oddziela "
                                    "„,”, a listę zamyka „]”";
        case Fault::kMissingColon:
            return "po nazwie pola " + Quote(p.field) + " brakuje dwukropka: \"" + p.field +
                   "\": wartość";
        case Fault::kUnquotedName:
            return "nazwa pola " + Quote(p.found) + " bez cudzysłowu: napisz \"" + p.found + "\"";
        case Fault::kMissingValue:
            return p.field.empty() ? "brakuje wartości"
                                   : "brakuje wartości w polu " + Quote(p.field);
        case Fault::kUnexpected:
            return "w tym miejscu nie może stać " + Quote(p.found) +
                   (p.number == '}'   ? "; obiekt zamyka „}”"
                    : p.number == ']' ? "; listę zamyka „]”"
                                      : "");
        case Fault::kTextAfterEnd:
            return "po zamknięciu całego obiektu w pliku jest jeszcze tekst; usuń go";
        case Fault::kTooDeep:
            return "dane zagnieżdżone głębiej niż " + Number(p.number) + " poziomów";
        default:
            return "";
    }
}

std::string Content(const Problem& p) {
    switch (p.kind) {
        case Fault::kNotObject:
            return p.row      ? "wiersz musi być obiektem { … }"
                   : p.group  ? "grupa musi być obiektem { … }"
                   : p.header ? "nagłówek musi być obiektem { … }"
                              : "cały plik musi być obiektem { \"headers\": [ … ] }";
        case Fault::kNotList:
            return Field(p) + " musi być listą [ … ]";
        case Fault::kUnknownField:
            return "nieznane " + Field(p);
        case Fault::kRepeatedField:
            return Field(p) + " występuje dwa razy (" +
                   (p.other_line == p.line
                        ? "w wierszu pliku " + Number(p.line)
                        : "w wierszach pliku " + Number(p.other_line) + " i " + Number(p.line)) +
                   "); zostaw jedno z nich";
        case Fault::kMissingField:
            return "brak pola " + Quote(p.field) +
                   (p.field == "quantity" ? " (albo " + Quote("units") + ")" : "");
        case Fault::kBothFields:
            return "podaj pole " + Quote(p.field) + " albo " + Quote(p.found) + ", nie oba";
        case Fault::kNotWhole: {
            const bool fraction = p.found.find_first_of(".,") != std::string::npos;
            if (p.field == "quantity" && fraction)
                return Field(p) +
                       " musi być liczbą całkowitą: to tysięczne części jednostki (1500 = 1,5 "
                       "jednostki); ułamek jednostek można podać w polu „units”, np. 1.5";
            return Field(p) + " musi być liczbą całkowitą" + (fraction ? "" : AsNumber(p.found));
        }
        case Fault::kNotNumber:
            return Field(p) + " musi być liczbą" + AsNumber(p.found);
        case Fault::kNumberTooLarge:
            return Field(p) + ": liczba " + p.found + " jest poza zakresem, który program zapisuje";
        case Fault::kOutOfRange:
            return Field(p) + " poza zakresem od " + Number(p.low) + " do " + Number(p.high);
        case Fault::kUnitsTooFine:
            return Field(p) +
                   " może mieć najwyżej trzy miejsca po kropce (tysięczne części jednostki), nie " +
                   p.found;
        case Fault::kUnitsOutOfRange:
            return Field(p) + " poza zakresem od -2147483.648 do 2147483.647";
        case Fault::kNotText: {
            // A number where a text belongs: the same in quotes.
            const bool number = !p.found.empty() && (p.found[0] == '-' || isdigit(p.found[0]));
            return Field(p) + " musi być tekstem w cudzysłowie" +
                   (number ? ", np. \"" + p.found + "\"" : "");
        }
        case Fault::kTooLong:
            return Field(p) + " dłuższe niż " + Number(p.high) + " znaków (ma " + Number(p.number) +
                   ")";
        case Fault::kNotInCodePage: {
            char code[16];
            snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(p.number));
            return Field(p) + ": znak " + Quote(p.found) + " (" + code +
                   ") nie występuje w stronie kodowej Mazovia";
        }
        case Fault::kZeroCharacter:
            return Field(p) + " zawiera znak o kodzie 0";
        case Fault::kBadKind:
            return Field(p) + " musi być „ZK” (zamówienie) albo „WZ” (wydanie), nie " +
                   Quote(p.found);
        case Fault::kEmptyNumber:
            return Field(p) + " nie może być puste";
        case Fault::kRepeatedNumber:
            return "ten sam numer ma już " + Place(p.other_document, p.other_header, 0, 0);
        case Fault::kRepeatedId:
            return "ten sam " + Quote(p.field) + " (" + Number(p.number) + ") ma już " +
                   Place(p.other_document, p.other_header, 0, 0);
        case Fault::kZeroId:
            return Field(p) + " musi być różne od 0";
        case Fault::kOrderWithoutSecondId:
            return "zamówienie (ZK) musi mieć pole „second_id” różne od 0";
        case Fault::kIssueNoteWithSecondId:
            return "dokument WZ ma pole „second_id” równe 0 albo go nie ma; z innym byłby "
                   "zamówieniem";
        case Fault::kBadDate:
            return Field(p) + " musi być datą RRRR-MM-DD, np. 2026-03-02";
        case Fault::kNoSuchDay:
            return Field(p) + ": nie ma dnia " + p.found;
        case Fault::kBadArticle:
            return Field(p) +
                   " musi być parą liczb całkowitych od -32768 do 32767: [pierwsza część, druga "
                   "część]";
        case Fault::kGrossOutOfRange:
            return Field(p) + " poza zakresem";
        case Fault::kMoneyOutOfRange:
            return Field(p) + " poza zakresem: najwyżej " + Number(p.high) +
                   " cyfr przed kropką, nie " + p.found;
        case Fault::kLinesValueOutOfRange:
            return "bez pola „gross” wartością brutto jest suma wartości wierszy, a ta jest poza "
                   "zakresem; podaj pole „gross” albo popraw wartości wierszy";
        case Fault::kClearedWithFields:
            return "wyczyszczony nagłówek zapisuje się jako {\"cleared\": true}, bez innych pól";
        case Fault::kLinesOfAHeader:
            return "dokument o „document_id” " + Number(p.number) + " to " +
                   Place(p.other_document, p.other_header, 0, 0) +
                   "; jego wiersze należą do jego pola „lines”";
        case Fault::kLinesTwice:
            return "drugi raz wiersze dokumentu o „document_id” " + Number(p.number);
        case Fault::kLinesWithoutHeader:
            return "nie ma dokumentu o „document_id” " + Number(p.number) +
                   ", do którego należałyby te wiersze";
        default:
            return "";
    }
}

std::string SystemError(int64_t code) {
    return code ? " (błąd systemu " + Number(code) + ")" : "";
}

}  // namespace

std::string Describe(const Problem& p) {
    switch (p.kind) {
        case Fault::kCannotOpen:
            return p.found + ": nie da się otworzyć pliku" + SystemError(p.number);
        case Fault::kCannotWrite:
            return p.found + ": nie da się zapisać" + SystemError(p.number);
        case Fault::kCannotReplace:
            return p.found + ": nie da się zastąpić pliku" + SystemError(p.number);
        case Fault::kTooLarge:
            return "plik dokumentów może mieć najwyżej " + Number(p.high >> 20) + " MB (" +
                   Number(p.high) + " bajtów), a ten jest większy; podziel go na mniejsze";
        case Fault::kZeroByte:
            return "w pliku stoi bajt o kodzie 0 (wiersz " + Number(p.line) + ", kolumna " +
                   Number(p.column) +
                   "): to nie jest plik tekstowy UTF-8 albo jest uszkodzony; zapisz go w UTF-8";
        case Fault::kUtf16:
            return "plik jest zapisany w UTF-16, a nie w UTF-8; zapisz go w UTF-8";
        case Fault::kNotUtf8: {
            // Polish letters of Windows-1250, the usual other encoding of such a file.
            static const std::string kWindows1250Letters =
                "\xA5\xB9\xC6\xE6\xCA\xEA\xA3\xB3\xD1\xF1\xD3\xF3\x8C\x9C\x8F\x9F\xAF\xBF";
            char byte[8];
            snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(p.number));
            const bool windows1250 =
                kWindows1250Letters.find(static_cast<char>(p.number)) != std::string::npos;
            return "plik nie jest zapisany w UTF-8 (wiersz " + Number(p.line) + ", kolumna " +
                   Number(p.column) + ": bajt " + byte +
                   (windows1250 ? ", zapewne litera w kodowaniu Windows-1250" : "") +
                   "); zapisz go w UTF-8";
        }
        case Fault::kEmptyFile:
            return "plik jest pusty; plik dokumentów ma postać { \"headers\": [ … ] } (opis i "
                   "przykład: docs/document-file.md)";
        default:
            break;
    }
    if (const std::string syntax = Syntax(p); !syntax.empty())
        return "błąd składni JSON" + (p.document.empty() ? "" : " w dokumencie " + p.document) +
               " (wiersz " + Number(p.line) + ", kolumna " + Number(p.column) + "): " + syntax;
    return Place(p.document, p.header, p.row, p.group) + ": " + Content(p);
}

std::string Describe(const std::vector<Problem>& problems) {
    std::string listed;
    for (size_t i = 0; i < problems.size() && i < kListedProblems; ++i)
        listed += (i ? "\n" : "") + Describe(problems[i]);
    if (const size_t count = ProblemCount(problems); count > kListedProblems)
        listed +=
            "\n… i jeszcze " + Number(static_cast<int64_t>(count - kListedProblems)) + " błędów";
    return listed;
}

Problem& AddProblem(std::vector<Problem>& problems, Problem problem) {
    if (problems.size() < kKeptProblems) {
        problems.push_back(std::move(problem));
        return problems.back();
    }
    if (problems.size() == kKeptProblems) {
        Problem more;
        more.kind = Fault::kMoreProblems;
        problems.push_back(more);
    }
    ++problems.back().number;
    thread_local Problem scratch;
    scratch = std::move(problem);
    return scratch;
}

size_t ProblemCount(const std::vector<Problem>& problems) {
    if (!problems.empty() && problems.back().kind == Fault::kMoreProblems)
        return problems.size() - 1 + static_cast<size_t>(problems.back().number);
    return problems.size();
}

}  // namespace document_file
