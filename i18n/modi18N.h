// Localisation of pages: resource ids in captions become texts, fonts
// follow the user's code page, tooltips are made from captions.
#pragma once

#include <string>

#include "host/forms/Forms.h"
#include "host/framework/Resources.h"

namespace pxcp {

// The shared text library, created on first use, one per thread.
host::ResourceLibrary& ResourceStrings();
// Text of a resource id; the id itself when the library lacks it.
std::string FindString(int id);

void LocalizeForm(host::forms::Form& page);
void SetFormFont(host::forms::Form& page);
void SetFontForCodePage(host::forms::Font& font, long codePage);
long GetCodePage(long lcid);
std::string StripNull(const std::string& s);
std::string MakeToolTip(const std::string& s);

}  // namespace pxcp
