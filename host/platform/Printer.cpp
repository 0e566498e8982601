#include "host/platform/Printer.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "host/Object.h"

namespace host::platform {

void Printer::PrintAt(int column, const std::string& text) {
    lineOpen_ = true;
    size_t at = column > 0 ? static_cast<size_t>(column - 1) : 0;
    if (current_.size() < at + text.size()) current_.resize(at + text.size(), ' ');
    current_.replace(at, text.size(), text);
}

void Printer::NewLine() {
    lines_.push_back(current_);
    current_.clear();
    lineOpen_ = false;
}

namespace {
std::string PdfText(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '(' || c == ')' || c == '\\') out += '\\';
        out += c < 128 ? static_cast<char>(c) : '?';  // the standard Courier has no encoding beyond ASCII here
    }
    return out;
}
}  // namespace

void Printer::EndDoc() {
    if (lineOpen_) NewLine();
    // Letter pages, one-inch margins; a page holds what fits at the line height.
    const double pageW = 612, pageH = 792, margin = 54, leading = fontSize * 1.2;
    const size_t perPage = static_cast<size_t>((pageH - 2 * margin) / leading);
    std::vector<std::string> pages;
    for (size_t start = 0; start < lines_.size() || (start == 0 && pages.empty()); start += perPage) {
        std::ostringstream content;
        content << "BT /F1 " << fontSize << " Tf " << leading << " TL " << margin << " " << pageH - margin << " Td\n";
        for (size_t i = start; i < lines_.size() && i < start + perPage; ++i) content << "(" << PdfText(lines_[i]) << ") Tj T*\n";
        content << "ET\n";
        pages.push_back(content.str());
        if (lines_.empty()) break;
    }
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages.size()) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /" + fontName + " /Encoding /WinAnsiEncoding >>");
    for (size_t i = 0; i < pages.size(); ++i) {
        char media[64];
        std::snprintf(media, sizeof media, "[0 0 %.0f %.0f]", pageW, pageH);
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox " + std::string(media) +
                          " /Resources << /Font << /F1 3 0 R >> >> /Contents " + std::to_string(5 + 2 * i) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(pages[i].size()) + " >>\nstream\n" + pages[i] + "endstream");
    }
    std::ostringstream pdf;
    pdf << "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(static_cast<size_t>(pdf.tellp()));
        pdf << i + 1 << " 0 obj\n" << objects[i] << "\nendobj\n";
    }
    size_t xref = static_cast<size_t>(pdf.tellp());
    pdf << "xref\n0 " << objects.size() + 1 << "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        pdf << line;
    }
    pdf << "trailer\n<< /Size " << objects.size() + 1 << " /Root 1 0 R >>\nstartxref\n" << xref << "\n%%EOF\n";
    std::ofstream f(path_, std::ios::binary);
    f << pdf.str();
    if (!f) Raise(kErrPathNotFound, "The printout could not be written to " + path_);
    document_ = lines_;
    lines_.clear();
}

}  // namespace host::platform
