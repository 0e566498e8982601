// The report of an analysis as documents: a PDF of the user's paper size
// (drawn with Cairo, laid out with Pango) and one self-contained HTML file
// (its map inline, nothing fetched from a network). Both are written whole
// or not at all: into a scratch file that replaces the old one only when
// complete. They raise with a message naming the file when they cannot.
#pragma once

#include <string>

#include "host/framework/ReportContent.h"

namespace host::report {

void WriteReportPdf(const ReportContent& content, const std::string& path, const PaperSize& paper = UserPaperSize());
void WriteReportHtml(const ReportContent& content, const std::string& path, const PaperSize& paper = UserPaperSize());
// The HTML document as text.
std::string ReportHtml(const ReportContent& content, const PaperSize& paper = UserPaperSize());

}  // namespace host::report
