// The INF as the section reader sees it, kept between queries of one context.
// The file is read once (text mode: CR LF as LF, Ctrl-Z ends it) and cut into
// the pieces that 255-character line reads would return; each section, found
// by its exact name, is laid out once per name asked for. A change of path, size or write time reloads everything,
// so every query answers for the file as it is on disk; the file is looked at
// no more than once per clock tick.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

struct InfSection {
    std::vector<std::string> entries;  // every entry of the section, uncut
    // Layout in a buffer of INF_SECTION_MAX bytes, as the callers get it.
    std::vector<char> text;
    DWORD cbText = 0;                  // bytes before the closing NUL
    std::vector<DWORD> offsets;        // start of each entry within text
    // ExpandLine results per entry, valid for one string-table generation.
    DWORD dwGeneration = 0;
    std::vector<std::string> expanded;
    size_t nExpanded = 0;              // entries expanded so far
    bool bExpandFailed = false;        // entry nExpanded could not be expanded
    // A line of the section (numbered from 1 in the file) that is longer
    // than a line read takes, beyond a comment; 0 when none. Such a section
    // is refused whole rather than read cut.
    DWORD dwLongLine = 0;
};

class InfCache {
public:
    // The first section whose name (the text between its brackets, blanks
    // trimmed) equals pszSection trimmed, compared without case; or NULL:
    // last error 2 when the file cannot be read, 0 when there is no such
    // section (an empty one is returned with no entries; a refused one with
    // dwLongLine set). The cache owns the section; it stays valid until a
    // call that reloads the changed file.
    InfSection *Section(const char *pszPath, const char *pszSection);

    // Lays the entries out into pBuffer (cbBuffer bytes) with the reader's
    // capacity rule; returns the bytes placed before the closing NUL.
    // pOffsets, when given, receives the start of each entry placed.
    static DWORD Layout(const std::vector<std::string> &entries, char *pBuffer, DWORD cbBuffer,
                        std::vector<DWORD> *pOffsets);

    // After Section answered "cannot be read": the call that failed (a
    // static string such as "GetFileSize") and its error (ERROR_DIRECTORY for
    // a folder, ERROR_FILE_TOO_LARGE for a file over 64 MB).
    const char *FailedCall() const { return m_pszFailedCall; }
    DWORD FailedError() const { return m_dwFailedError; }

private:
    struct Piece {
        DWORD dwOffset;
        DWORD cch;        // up to the first NUL of the piece
        bool bCutAtNul;   // the piece holds a NUL: what follows it is ignored
        bool bContinued;  // the rest of a line that did not fit one line read
    };
    struct Header {
        size_t iPiece;
        std::string name;  // between the brackets, blanks trimmed
    };
    bool Failed(const char *pszCall);
    bool Refresh(const char *pszPath);
    bool Load(const char *pszPath);
    void ReadEntries(size_t iFirstPiece, InfSection &section) const;
    DWORD LineNumber(size_t iPiece) const;

    std::string m_strPath;
    bool m_bLoaded = false;
    DWORD m_dwCheckedTick = 0;             // tick of the last look at the file
    const char *m_pszFailedCall = "";
    DWORD m_dwFailedError = 0;
    WIN32_FILE_ATTRIBUTE_DATA m_fad = {};
    std::string m_strText;                 // the file after text-mode conversion
    std::vector<Piece> m_pieces;           // what each line read returns
    std::vector<Header> m_headers;         // section headers in file order
    std::map<std::string, InfSection> m_sections;  // by the name asked for
};
