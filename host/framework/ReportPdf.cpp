// The report as a PDF document: pages of the user's paper, the text laid
// out by Pango (so that any script and accent shows right), the map as its
// picture, long tables continued over pages with their header repeated.
#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <memory>

#include "host/Object.h"
#include "host/framework/ReportDocuments.h"

namespace fs = std::filesystem;

namespace host::report {

namespace {

constexpr const char* kFace = "DejaVu Sans";
constexpr double kMargin = 50;     // points around the page
constexpr double kFooter = 24;     // room for the page number
constexpr double kCellPad = 3;     // points inside a table cell
constexpr double kBodySize = 9.5;  // points

struct Style {
    double size = kBodySize;
    bool bold = false;
    bool italic = false;
    double grey = 0.12;  // text colour
};

class PdfPages {
public:
    PdfPages(const std::string& path, const PaperSize& paper, std::string footer)
        : paper_(paper), footer_(std::move(footer)) {
        surface_ = cairo_pdf_surface_create(path.c_str(), paper.widthPoints, paper.heightPoints);
        cr_ = cairo_create(surface_);
        y_ = kMargin;
    }
    ~PdfPages() {
        cairo_destroy(cr_);
        cairo_surface_destroy(surface_);
    }
    PdfPages(const PdfPages&) = delete;
    PdfPages& operator=(const PdfPages&) = delete;

    double Width() const { return paper_.widthPoints - 2 * kMargin; }
    double Left() const { return kMargin; }
    double Bottom() const { return paper_.heightPoints - kMargin - kFooter; }
    double& Y() { return y_; }

    // Starts a new page when less than `height` is left on this one.
    bool Need(double height) {
        if (y_ + height <= Bottom() || y_ <= kMargin) return false;
        NewPage();
        return true;
    }
    void NewPage() {
        Footer();
        cairo_show_page(cr_);
        ++page_;
        y_ = kMargin;
    }

    // A layout of text in a style, wrapped at `width` (or kept on one line,
    // ellipsized, when oneLine).
    std::unique_ptr<PangoLayout, decltype(&g_object_unref)> Layout(const std::string& text, const Style& s, double width,
                                                                    bool oneLine = false) {
        PangoLayout* layout = pango_cairo_create_layout(cr_);
        // Points are the units of the page: text sizes are in points too.
        pango_cairo_context_set_resolution(pango_layout_get_context(layout), 72);
        pango_layout_context_changed(layout);
        PangoFontDescription* font = pango_font_description_from_string(kFace);
        pango_font_description_set_absolute_size(font, s.size * PANGO_SCALE);
        if (s.bold) pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
        if (s.italic) pango_font_description_set_style(font, PANGO_STYLE_ITALIC);
        pango_layout_set_font_description(layout, font);
        pango_font_description_free(font);
        pango_layout_set_width(layout, static_cast<int>(std::max(1.0, width) * PANGO_SCALE));
        if (oneLine) pango_layout_set_ellipsize(layout, PANGO_ELLIPSIZE_END);
        else pango_layout_set_wrap(layout, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_text(layout, text.c_str(), -1);
        return {layout, g_object_unref};
    }
    static double Height(PangoLayout* layout) {
        int w = 0, h = 0;
        pango_layout_get_size(layout, &w, &h);
        return static_cast<double>(h) / PANGO_SCALE;
    }
    static double NaturalWidth(PangoLayout* layout) {
        PangoRectangle ink, logical;
        pango_layout_get_extents(layout, &ink, &logical);
        return static_cast<double>(logical.width) / PANGO_SCALE;
    }
    void Draw(PangoLayout* layout, double x, double y, double grey) {
        cairo_set_source_rgb(cr_, grey, grey, grey);
        cairo_move_to(cr_, x, y);
        pango_cairo_show_layout(cr_, layout);
    }

    // A paragraph at the current position, starting a page when it does not fit.
    void Paragraph(const std::string& text, const Style& s, double indent = 0, double after = 4) {
        auto layout = Layout(text, s, Width() - indent);
        double h = Height(layout.get());
        Need(h);
        Draw(layout.get(), Left() + indent, y_, s.grey);
        y_ += h + after;
    }
    void Heading(const std::string& text) {
        Style s{13, true};
        auto layout = Layout(text, s, Width());
        // A heading keeps at least a few lines of what follows with it.
        Need(Height(layout.get()) + 60);
        y_ += 8;
        Draw(layout.get(), Left(), y_, 0.1);
        y_ += Height(layout.get()) + 2;
        cairo_set_source_rgb(cr_, 0.55, 0.65, 0.55);
        cairo_set_line_width(cr_, 0.8);
        cairo_move_to(cr_, Left(), y_);
        cairo_line_to(cr_, Left() + Width(), y_);
        cairo_stroke(cr_);
        y_ += 6;
    }

    void Image(const std::string& png, double maxHeight) {
        struct Reader {
            const std::string* bytes;
            size_t at = 0;
        } reader{&png};
        auto read = [](void* closure, unsigned char* data, unsigned int length) {
            auto* r = static_cast<Reader*>(closure);
            if (r->at + length > r->bytes->size()) return CAIRO_STATUS_READ_ERROR;
            std::memcpy(data, r->bytes->data() + r->at, length);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        };
        cairo_surface_t* image = cairo_image_surface_create_from_png_stream(read, &reader);
        if (cairo_surface_status(image) == CAIRO_STATUS_SUCCESS) {
            double w = cairo_image_surface_get_width(image), h = cairo_image_surface_get_height(image);
            double scale = std::min(Width() / w, maxHeight / h);
            Need(h * scale);
            cairo_save(cr_);
            cairo_translate(cr_, Left() + (Width() - w * scale) / 2, y_);
            cairo_scale(cr_, scale, scale);
            cairo_set_source_surface(cr_, image, 0, 0);
            cairo_paint(cr_);
            cairo_restore(cr_);
            y_ += h * scale + 8;
        }
        cairo_surface_destroy(image);
    }

    void Table(const ReportTable& t, const std::vector<std::array<double, 3>>& swatches = {});
    void Rectangle(double x, double y, double w, double h, double r, double g, double b, bool fill) {
        cairo_set_source_rgb(cr_, r, g, b);
        cairo_rectangle(cr_, x, y, w, h);
        if (fill) cairo_fill(cr_);
        else {
            cairo_set_line_width(cr_, 0.5);
            cairo_stroke(cr_);
        }
    }

    void Finish() {
        Footer();
        cairo_show_page(cr_);
        cairo_surface_finish(surface_);
    }
    cairo_status_t Status() const { return cairo_surface_status(surface_); }

private:
    void Footer() {
        Style s{7.5, false, false, 0.4};
        auto left = Layout(footer_, s, Width() * 0.7, true);
        Draw(left.get(), Left(), paper_.heightPoints - kMargin - 8, s.grey);
        auto right = Layout("Page " + std::to_string(page_), s, Width() * 0.3, true);
        pango_layout_set_alignment(right.get(), PANGO_ALIGN_RIGHT);
        Draw(right.get(), Left() + Width() * 0.7, paper_.heightPoints - kMargin - 8, s.grey);
    }

    PaperSize paper_;
    std::string footer_;
    cairo_surface_t* surface_ = nullptr;
    cairo_t* cr_ = nullptr;
    double y_ = 0;
    int page_ = 1;
};

void PdfPages::Table(const ReportTable& t, const std::vector<std::array<double, 3>>& swatches) {
    if (t.columns.empty()) return;
    const size_t n = t.columns.size();
    Style body, head{kBodySize, true};
    const double swatch = swatches.empty() ? 0 : 14;
    // Columns as wide as their widest cell, narrowed together to the page.
    std::vector<double> width(n, 0);
    for (size_t c = 0; c < n; ++c) {
        width[c] = NaturalWidth(Layout(t.columns[c], head, 1e5, true).get());
        for (auto& r : t.rows) width[c] = std::max(width[c], NaturalWidth(Layout(r[c], body, 1e5, true).get()));
        width[c] += 2 * kCellPad + 6;
    }
    if (swatch > 0) width[0] += swatch;
    double total = 0;
    for (double w : width) total += w;
    if (total > Width())
        for (double& w : width) w *= Width() / total;
    const double rowHeight = Height(Layout("Ag", body, 100).get()) + 2 * kCellPad;

    auto header = [&] {
        double x = Left();
        Rectangle(Left(), y_, std::min(total, Width()), rowHeight, 0.88, 0.92, 0.88, true);
        for (size_t c = 0; c < n; ++c) {
            auto l = Layout(t.columns[c], head, width[c] - 2 * kCellPad, true);
            if (c < t.numeric.size() && t.numeric[c]) pango_layout_set_alignment(l.get(), PANGO_ALIGN_RIGHT);
            Draw(l.get(), x + kCellPad, y_ + kCellPad, 0.1);
            x += width[c];
        }
        y_ += rowHeight;
    };
    Need(3 * rowHeight);
    header();
    for (size_t i = 0; i < t.rows.size(); ++i) {
        if (Need(rowHeight)) header();
        if (i % 2 == 1) Rectangle(Left(), y_, std::min(total, Width()), rowHeight, 0.965, 0.965, 0.965, true);
        double x = Left();
        for (size_t c = 0; c < n; ++c) {
            double inset = 0;
            if (c == 0 && i < swatches.size()) {
                Rectangle(x + kCellPad, y_ + kCellPad + 1, swatch - 4, rowHeight - 2 * kCellPad - 2, swatches[i][0],
                          swatches[i][1], swatches[i][2], true);
                Rectangle(x + kCellPad, y_ + kCellPad + 1, swatch - 4, rowHeight - 2 * kCellPad - 2, 0.4, 0.4, 0.4,
                          false);
                inset = swatch;
            }
            auto l = Layout(t.rows[i][c], body, width[c] - 2 * kCellPad - inset, true);
            if (c < t.numeric.size() && t.numeric[c]) pango_layout_set_alignment(l.get(), PANGO_ALIGN_RIGHT);
            Draw(l.get(), x + kCellPad + inset, y_ + kCellPad, body.grey);
            x += width[c];
        }
        y_ += rowHeight;
    }
    y_ += 8;
}

std::string Untabbed(const std::string& line, int& depth) {
    depth = 0;
    size_t i = 0;
    while (i < line.size() && line[i] == '\t') ++depth, ++i;
    return line.substr(i);
}

}  // namespace

void WriteReportPdf(const ReportContent& content, const std::string& path, const PaperSize& paper) {
    fs::path target(path);
    fs::path scratch = target;
    scratch += ".tmp-" + std::to_string(getpid());
    {
        PdfPages pdf(scratch.string(), paper, "Report of " + content.name + " · " + content.date);
        pdf.Paragraph("Report of " + content.name, Style{18, true, false, 0.05}, 0, 10);
        // The particulars as two columns.
        for (auto& [label, value] : content.Particulars()) {
            Style l{kBodySize, true}, v;
            auto a = pdf.Layout(label, l, 90);
            auto b = pdf.Layout(value, v, pdf.Width() - 95);
            double h = std::max(PdfPages::Height(a.get()), PdfPages::Height(b.get()));
            pdf.Need(h);
            pdf.Draw(a.get(), pdf.Left(), pdf.Y(), 0.3);
            pdf.Draw(b.get(), pdf.Left() + 95, pdf.Y(), 0.1);
            pdf.Y() += h + 2;
        }

        pdf.Heading("Criteria");
        for (auto& line : content.criteria) {
            int depth = 0;
            std::string text = Untabbed(line, depth);
            if (text.empty()) {
                pdf.Y() += 4;
                continue;
            }
            pdf.Paragraph(text, Style{}, 18.0 * depth, 1.5);
        }

        if (!content.mapPng.empty()) {
            pdf.Heading("Map");
            pdf.Image(content.mapPng, pdf.Bottom() - kMargin - 60);
        }

        pdf.Heading("Summary");
        pdf.Paragraph(content.SummarySentence(), Style{10.5, true}, 0, 8);
        if (!content.totals.empty()) pdf.Table(content.TotalsTable());

        if (!content.classes.empty()) {
            pdf.Heading("Classes");
            std::vector<std::array<double, 3>> swatches;
            for (auto& c : content.classes) swatches.push_back({c.red / 255.0, c.green / 255.0, c.blue / 255.0});
            pdf.Table(content.ClassesTable(), swatches);
        }

        pdf.Heading("Areas found");
        if (content.areas.Empty()) pdf.Paragraph("No areas were found.", Style{});
        else pdf.Table(content.areas);

        if (!content.profile.Empty()) {
            pdf.Heading("Customer profile");
            pdf.Table(content.profile);
        }
        pdf.Finish();
        if (pdf.Status() != CAIRO_STATUS_SUCCESS) {
            std::error_code ec;
            fs::remove(scratch, ec);
            Raise(kErrPathNotFound, "The report " + path + " could not be written: " + cairo_status_to_string(pdf.Status()),
                  "PXReports");
        }
    }
    std::error_code ec;
    fs::rename(scratch, target, ec);
    if (ec) {
        fs::remove(scratch, ec);
        Raise(kErrPathNotFound, "The report " + path + " could not be written", "PXReports");
    }
}

}  // namespace host::report
