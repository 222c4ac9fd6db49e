#include <cstring>

#include "descriptor.h"
#include "platform/platform.h"
#include "support/support.h"

// Accepted grammar, one line at a time (at most 255 characters a line; a longer one is read in
// pieces, each a line of its own):
//
//   line      = blanks ( "" | "#" anything | extent | parameter )
//   extent    = "RW" letters-or-dots u32 type-word "\"" name "\"" u32 anything
//               (white space between the fields as formatted input takes it; size != 0,
//               offset == 0, type "flat" in any case)
//   parameter = key blanks "=" blanks ( value | "\"" value "\"" ) blanks
//   key       = letters and dots, matched against the parameter table in any case
//   value     = true|false (Bool), decimal digits (Decimal), hex digits (Hex),
//               anything up to the end of the line or a double quote (String)

namespace {

const char* const FLAT_TYPE = "flat";

bool isNameChar(char c) { return isAsciiLetter(c) || c == '.'; }

// White space as formatted input skips it.
const char* skipSpace(const char* p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    return p;
}

// A 32-bit unsigned number as a formatted "%u" takes it, but strict: no sign, and a value that
// does not fit is no number rather than a wrapped one.
bool scanU32(const char** text, uint32_t* value) {
    const char* p = skipSpace(*text);
    if (*p < '0' || *p > '9') return false;
    uint64_t number = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + static_cast<unsigned>(*p - '0');
        if (number > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<uint32_t>(number);
    *text = p;
    return true;
}

// The text after "RW": size, type word, quoted file name, offset.
int readExtentLine(const char* p, unsigned lineNumber, DescriptorRecord* record) {
    uint32_t sectors = 0;
    uint32_t offset = 0;
    char type[256];
    bool converted = scanU32(&p, &sectors);
    if (converted) {
        p = skipSpace(p);
        size_t length = 0;
        while (*p && skipSpace(p) == p) type[length++] = *p++;
        type[length] = '\0';
        converted = length > 0;
    }
    if (converted) {
        p = skipSpace(p);
        const char* name = p + 1;
        const char* close = *p == '"' ? strchr(name, '"') : nullptr;
        converted = close && close > name;
        if (converted) {
            storeParam(record, findParam("DiskFileName", 12), 0, name,
                       static_cast<size_t>(close - name));
            p = close + 1;
        }
    }
    converted = converted && scanU32(&p, &offset);
    if (converted) storeParam(record, findParam("Sectors", 7), sectors, nullptr, 0);
    if (!converted || sectors == 0 || offset != 0) {
        printError("Line %u - invalid disk file descriptor", lineNumber);
        return 6;
    }
    if (!equalsNoCase(type, FLAT_TYPE)) {
        printError("Line %u - only FLAT disks are supported", lineNumber);
        return 6;
    }
    return 0;
}

int readParameterLine(const char* name, size_t nameLength, unsigned lineNumber,
                      DescriptorRecord* record) {
    const ParamRow* row = findParam(name, nameLength);
    if (!row) {
        printError("Line %u: unknown parameter \"%.*s\"", lineNumber, static_cast<int>(nameLength),
                   name);
        return 6;
    }
    const char* p = skipBlanks(name + nameLength);
    if (*p != '=') {
        printError("Line %u: no \"=\"", lineNumber);
        return 6;
    }
    p = skipBlanks(p + 1);
    bool quoted = *p == '"';
    if (quoted) ++p;

    uint32_t number = 0;
    const char* text = p;
    size_t textLength = 0;
    if (row->type == Bool) {
        char word[16];
        size_t length = 0;
        while (*p && !(quoted && *p == '"') && length < sizeof word - 1) word[length++] = *p++;
        word[length] = '\0';
        if (equalsNoCase(word, "false")) {
            number = 0;
        } else if (equalsNoCase(word, "true")) {
            number = 1;
        } else {
            printError("Line %u: invalid bool parameter", lineNumber);
            return 6;
        }
    } else if (row->type == Decimal || row->type == Hex) {
        const char* end = p;
        number = parseUnsigned(p, &end, row->type == Decimal ? 10 : 16);
        if (end == p) {
            printError("Line %u: invalid numeric parameter", lineNumber);
            return 6;
        }
        p = end;
    } else {
        while (*p && *p != '"') ++p;
        textLength = static_cast<size_t>(p - text);
    }

    if (quoted) {
        if (*p != '"') {
            printError("Line %u: no right quotemark", lineNumber);
            return 6;
        }
        ++p;
    }
    if (*skipBlanks(p) != '\0') {
        printError("Line %u: extra chars after the value", lineNumber);
        return 6;
    }
    storeParam(record, row, number, text, textLength);
    return 0;
}

int checkWholeDescriptor(const DescriptorRecord* record) {
    if (!equalsNoCase(record->createType, "monolithicFlat")) {
        printError("Only monolithic flat disks are supported");
        return 6;
    }
    if (record->cylinders == 0 || record->heads < 1 || record->heads > 255 ||
        record->sectorsPerTrack < 1 || record->sectorsPerTrack > 63) {
        printError("Error in geometry parameters");
        return 6;
    }
    uint64_t geometrySectors =
        static_cast<uint64_t>(record->sectorsPerTrack) * record->heads * record->cylinders;
    if (geometrySectors > record->extentSectors) {
        printError("Geometry sectors greater than flat sectors");
        return 6;
    }
    return 0;
}

}  // namespace

int readDescriptor(FILE* stream, DescriptorRecord* record) {
    initRecord(record);
    char line[256];
    unsigned lineNumber = 0;
    for (;;) {
        int got = readTextLine(stream, line, sizeof line);
        if (got == 0) break;
        if (got < 0) {
            printError("Cannot read line %u from descriptor file", lineNumber);
            return 5;
        }
        ++lineNumber;
        char* feed = strchr(line, '\n');
        if (feed) {
            // Streams that keep CR LF line ends leave the CR for us.
            if (feed > line && feed[-1] == '\r') --feed;
            *feed = '\0';
        }

        const char* p = skipBlanks(line);
        if (*p == '\0' || *p == '#') continue;
        const char* name = p;
        while (isNameChar(*p)) ++p;
        size_t nameLength = static_cast<size_t>(p - name);
        if (nameLength == 0) {
            printError("Line %u - no parameter name", lineNumber);
            return 6;
        }
        int result = nameLength >= 2 && equalsNoCaseN(name, "RW", 2)
                         ? readExtentLine(p, lineNumber, record)
                         : readParameterLine(name, nameLength, lineNumber, record);
        if (result != 0) return result;
    }
    return checkWholeDescriptor(record);
}
