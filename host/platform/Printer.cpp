#include "host/platform/Printer.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "host/Object.h"
#include "host/platform/TextFile.h"

namespace host::platform {

namespace {

// US Letter in points; the text starts three quarters of an inch from the
// left and the top and keeps half an inch from the right edge.
constexpr double kPageWidth = 612, kPageHeight = 792, kLeft = 54, kTop = 54, kRight = 36, kBottom = 54;
// A continuation keeps at least this many columns for its text.
constexpr int kMinRoom = 24;

std::vector<std::string> Cells(const std::string& text) {
    std::vector<std::string> cells;
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    for (const gchar* p = valid; *p; p = g_utf8_next_char(p)) {
        gunichar c = g_utf8_get_char(p);
        const gchar* next = g_utf8_next_char(p);
        std::string bytes(p, static_cast<size_t>(next - p));
        if (c == '\t' || c == '\r' || c == '\n') bytes = " ";
        if (g_unichar_iszerowidth(c) && !cells.empty() && !cells.back().empty()) {
            cells.back() += bytes;  // a mark rides on its letter
            continue;
        }
        cells.push_back(bytes);
        if (g_unichar_iswide(c)) cells.emplace_back();
    }
    g_free(valid);
    return cells;
}

bool Blank(const std::string& cell) { return cell == " "; }

std::string FaceOf(const std::string& fontName) {
    std::string face = fontName.empty() || fontName == "Courier" ? "DejaVu Sans Mono" : fontName;
    return face + ",DejaVu Sans Mono,monospace";
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
    static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
    return CAIRO_STATUS_SUCCESS;
}

using LayoutPtr = std::unique_ptr<PangoLayout, decltype(&g_object_unref)>;

}  // namespace

void Printer::PrintAt(int column, const std::string& text) {
    lineOpen_ = true;
    size_t at = column > 0 ? static_cast<size_t>(column - 1) : 0;
    auto cells = Cells(text);
    if (current_.cells.size() < at + cells.size()) current_.cells.resize(at + cells.size(), " ");
    std::copy(cells.begin(), cells.end(), current_.cells.begin() + static_cast<long>(at));
    if (!cells.empty()) current_.starts.push_back(static_cast<int>(at));
}

void Printer::NewLine() {
    lines_.push_back(std::move(current_));
    current_ = Line{};
    lineOpen_ = false;
}

int Printer::Width(const std::string& text) { return static_cast<int>(Cells(text).size()); }

std::string Printer::Text(const std::vector<std::string>& cells, size_t from, size_t to) {
    std::string s;
    for (size_t i = from; i < to && i < cells.size(); ++i) s += cells[i];
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

std::vector<std::string> Printer::Wrap(const std::string& line, int columns) {
    Line l;
    l.cells = Cells(line);
    // Texts are taken to begin after two blanks or more.
    for (size_t i = 0, blanks = 2; i < l.cells.size(); ++i) {
        if (Blank(l.cells[i])) {
            ++blanks;
            continue;
        }
        if (blanks >= 2) l.starts.push_back(static_cast<int>(i));
        blanks = 0;
    }
    return Wrap(l, columns);
}

std::vector<std::string> Printer::Wrap(const Line& line, int columns) {
    std::vector<std::string> out;
    std::vector<std::string> cells = line.cells;
    while (!cells.empty() && Blank(cells.back())) cells.pop_back();
    columns = std::max(columns, 2 * kMinRoom);
    size_t indent = 0;
    bool continued = false;
    while (cells.size() > static_cast<size_t>(columns)) {
        // The last blank that ends a word within the page, after the indent.
        size_t cut = 0;
        for (size_t b = static_cast<size_t>(columns); b > indent + 1; --b)
            if (Blank(cells[b]) && !Blank(cells[b - 1])) {
                cut = b;
                break;
            }
        if (cut == 0) {
            cut = static_cast<size_t>(columns);  // one word wider than the page
            if (cells[cut].empty()) --cut;       // never between the halves of a wide character
        }
        if (!continued) {
            // Under the text that goes on, a little in; when that leaves
            // too little room, a little in from where the line begins.
            size_t first = 0;
            while (first < cells.size() && Blank(cells[first])) ++first;
            size_t field = first;
            for (int s : line.starts)
                if (static_cast<size_t>(s) <= cut && static_cast<size_t>(s) > field) field = static_cast<size_t>(s);
            indent = field + 2 + kMinRoom <= static_cast<size_t>(columns) ? field + 2 : first + 4;
            indent = std::min(indent, static_cast<size_t>(columns - kMinRoom));
            continued = true;
        }
        out.push_back(Text(cells, 0, cut));
        size_t next = cut;
        while (next < cells.size() && Blank(cells[next])) ++next;
        std::vector<std::string> rest(indent, " ");
        rest.insert(rest.end(), cells.begin() + static_cast<long>(next), cells.end());
        cells = std::move(rest);
    }
    out.push_back(Text(cells, 0, cells.size()));
    return out;
}

void Printer::EndDoc() {
    if (lineOpen_) NewLine();
    std::string bytes;
    using SurfacePtr = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
    SurfacePtr surface(cairo_pdf_surface_create_for_stream(&Append, &bytes, kPageWidth, kPageHeight),
                       &cairo_surface_destroy);
    cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, "Plexa");
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()), &cairo_destroy);

    PangoFontDescription* font = pango_font_description_from_string(FaceOf(fontName).c_str());
    pango_font_description_set_absolute_size(font, fontSize * PANGO_SCALE);
    auto layoutOf = [&](const std::string& text) {
        LayoutPtr layout(pango_cairo_create_layout(cr.get()), &g_object_unref);
        pango_layout_set_font_description(layout.get(), font);
        pango_layout_set_text(layout.get(), text.c_str(), -1);
        return layout;
    };
    // The pitch of the font: the advance of one character.
    double advance = fontSize * 0.6;
    {
        auto probe = layoutOf("0000000000");
        PangoRectangle logical;
        pango_layout_get_extents(probe.get(), nullptr, &logical);
        if (logical.width > 0) advance = double(logical.width) / PANGO_SCALE / 10;
    }
    const double leading = fontSize * 1.2;
    columns_ = static_cast<int>((kPageWidth - kLeft - kRight) / advance);
    linesPerPage_ = std::max(1, static_cast<int>((kPageHeight - kTop - kBottom) / leading));

    printed_.clear();
    for (auto& line : lines_)
        for (auto& piece : Wrap(line, columns_)) printed_.push_back(piece);
    pages_ = 0;
    cairo_set_source_rgb(cr.get(), 0, 0, 0);
    for (size_t start = 0; start < printed_.size() || pages_ == 0; start += static_cast<size_t>(linesPerPage_)) {
        if (pages_ > 0) cairo_show_page(cr.get());
        ++pages_;
        for (size_t i = start; i < printed_.size() && i < start + static_cast<size_t>(linesPerPage_); ++i) {
            double y = kTop + static_cast<double>(i - start) * leading;
            // Each word at its own column, so that a character drawn from
            // another font cannot shift what follows it.
            auto cells = Cells(printed_[i]);
            for (size_t c = 0; c < cells.size();) {
                if (Blank(cells[c])) {
                    ++c;
                    continue;
                }
                size_t end = c;
                while (end < cells.size() && !Blank(cells[end])) ++end;
                auto layout = layoutOf(Text(cells, c, end));
                cairo_move_to(cr.get(), kLeft + static_cast<double>(c) * advance, y);
                pango_cairo_show_layout(cr.get(), layout.get());
                c = end;
            }
        }
    }
    pango_font_description_free(font);
    cr.reset();
    cairo_surface_finish(surface.get());
    cairo_status_t status = cairo_surface_status(surface.get());
    if (status != CAIRO_STATUS_SUCCESS)
        Raise(kErrPathNotFound, "The printout could not be made: " + std::string(cairo_status_to_string(status)));
    if (!WriteFileAtomically(path_, bytes)) Raise(kErrPathNotFound, "The printout could not be written to " + path_);
    document_.clear();
    for (auto& line : lines_) document_.push_back(Text(line.cells, 0, line.cells.size()));
    lines_.clear();
}

}  // namespace host::platform
