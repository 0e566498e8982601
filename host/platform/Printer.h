// The platform printer: text placed by print column in a fixed-pitch font,
// written as a PDF document when the document ends.
#pragma once

#include <string>
#include <vector>

namespace host::platform {

class Printer {
public:
    // The document goes to this file when EndDoc runs.
    explicit Printer(std::string pdfPath) : path_(std::move(pdfPath)) {}
    std::string fontName = "Courier";
    double fontSize = 10;

    // Prints at a column (1-based) of the current line; the line stays open.
    void PrintAt(int column, const std::string& text);
    // Ends the current line (an empty one when nothing was printed on it).
    void NewLine();
    bool HasOutput() const { return !lines_.empty() || !current_.empty(); }
    // Writes the PDF; raises when it cannot be written.
    void EndDoc();
    const std::string& Path() const { return path_; }
    // The lines of the last document, as printed.
    const std::vector<std::string>& Document() const { return document_; }

private:
    std::string path_;
    std::vector<std::string> lines_;
    std::vector<std::string> document_;
    std::string current_;
    bool lineOpen_ = false;
};

}  // namespace host::platform
