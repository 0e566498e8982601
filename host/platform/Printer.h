// The platform printer: text placed by print column in a fixed-pitch font,
// written as a PDF document when the document ends.
//
// A print column is one character cell: every character takes one, a wide
// (East Asian) character two and a combining mark none, so that columns
// line up whatever the script. The page is US Letter; a line longer than
// the page is wide goes on over the next lines, indented, and a page holds
// as many lines as fit between its margins.
#pragma once

#include <string>
#include <vector>

namespace host::platform {

class Printer {
public:
    // The document goes to this file when EndDoc runs.
    explicit Printer(std::string pdfPath) : path_(std::move(pdfPath)) {}
    // "Courier", the classic fixed-pitch name, prints in DejaVu Sans Mono,
    // which has the characters of most languages.
    std::string fontName = "Courier";
    double fontSize = 10;

    // Prints at a column (1-based) of the current line; the line stays open.
    void PrintAt(int column, const std::string& text);
    // Ends the current line (an empty one when nothing was printed on it).
    void NewLine();
    bool HasOutput() const { return !lines_.empty() || lineOpen_; }
    // Writes the PDF, whole or not at all; raises when it cannot be written.
    void EndDoc();
    const std::string& Path() const { return path_; }
    // The lines of the last document, as printed by column.
    const std::vector<std::string>& Document() const { return document_; }
    // The same lines as the pages show them: long lines wrapped.
    const std::vector<std::string>& PrintedLines() const { return printed_; }
    int Pages() const { return pages_; }
    // Print columns across the page, and lines down it, in the font of the last document.
    int Columns() const { return columns_; }
    int LinesPerPage() const { return linesPerPage_; }

    // The columns a text takes.
    static int Width(const std::string& text);
    // The lines a line of print columns takes on a page `columns` wide: cut
    // at the last blank that fits (or at the edge, within a word), each
    // continuation indented under the text it continues.
    static std::vector<std::string> Wrap(const std::string& line, int columns);

private:
    struct Line {
        std::vector<std::string> cells;  // one character (with its marks) per column; "" for the right half of a wide one
        std::vector<int> starts;         // columns (0-based) where printed texts begin
    };
    static std::vector<std::string> Wrap(const Line& line, int columns);
    static std::string Text(const std::vector<std::string>& cells, size_t from, size_t to);

    std::string path_;
    std::vector<Line> lines_;
    Line current_;
    bool lineOpen_ = false;
    std::vector<std::string> document_, printed_;
    int pages_ = 0, columns_ = 0, linesPerPage_ = 0;
};

}  // namespace host::platform
