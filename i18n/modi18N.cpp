#include "i18n/modi18N.h"

#include <cstring>
#include <set>

#include "host/platform/Locale.h"

namespace pxcp {

using host::forms::Control;
using host::forms::ControlKind;

host::ResourceLibrary& ResourceStrings() {
    thread_local std::shared_ptr<host::ResourceLibrary> lib =
        host::CreateObjectAs<host::ResourceLibrary>("PXCPRes.clsFindResource");
    return *lib;
}

std::string FindString(int id) {
    try {
        return ResourceStrings().FindString(id);
    } catch (const host::RuntimeError&) {
        return std::to_string(id);
    }
}

std::string StripNull(const std::string& s) {
    auto pos = s.find('\0');
    return pos == std::string::npos ? s : s.substr(0, pos);
}

std::string MakeToolTip(const std::string& text) {
    std::string s = host::Trim(text);
    s = host::ReplaceAll(s, "&&", std::string(1, '\0'));
    s = host::ReplaceAll(s, "&", "");
    // The ellipsis is looked for once the access keys are gone.
    if (s.size() >= 3 && s.compare(s.size() - 3, 3, "...") == 0) s.erase(s.size() - 3);
    s = host::ReplaceAll(s, std::string(1, '\0'), "&");
    return s;
}

void LocalizeForm(host::forms::Form& page) {
    page.Load();
    auto& res = ResourceStrings();
    // Every assignment stands alone: an id the library lacks, or a property
    // the control does not have, skips just that one.
    auto guarded = [](auto&& f) {
        try {
            f();
        } catch (const std::exception&) {
        }
    };
    guarded([&] { page.caption = res.FindString(page.caption); });
    for (Control* c : page.Controls()) {
        auto tip = [&] {
            guarded([&] { c->toolTipText = MakeToolTip(res.FindString(c->toolTipText)); });
        };
        switch (c->Kind()) {
            case ControlKind::TextBox:
                guarded([&] { c->SetText(res.FindString(c->Text())); });
                tip();
                break;
            case ControlKind::ListBox:
            case ControlKind::ComboBox:
                for (long i = 0; i < c->ListCount(); ++i)
                    guarded([&] { c->SetListItem(i, res.FindString(c->List()[i])); });
                tip();
                break;
            default:
                guarded([&] {
                    if (!c->hasCaption) host::Raise(438, "no caption");
                    c->caption = res.FindString(c->caption);
                });
                tip();
                break;
        }
    }
}

long GetCodePage(long lcid) {
    // Locale item 4100 arrives in a fixed buffer padded with NUL.
    char buffer[16];
    std::memset(buffer, 0, sizeof buffer);
    std::string cp = host::platform::LocaleAnsiCodePage(lcid);
    std::strncpy(buffer, cp.c_str(), sizeof buffer - 1);
    std::string text = StripNull(std::string(buffer, sizeof buffer));
    return text.empty() ? 0 : std::stol(text);
}

void SetFontForCodePage(host::forms::Font& font, long codePage) {
    auto eastAsian = [&](int charset, const char* face) {
        font.charset = charset;
        font.name = face;
        if (font.size < 9) font.size = 9;
    };
    switch (codePage) {
        case 932: eastAsian(128, "\xEF\xBC\xAD\xEF\xBC\xB3 \xEF\xBC\xB0\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF"); return;
        case 936: eastAsian(134, "\xE5\xAE\x8B\xE4\xBD\x93"); return;
        case 949: eastAsian(129, "\xEA\xB5\xB4\xEB\xA6\xBC"); return;
        case 950: eastAsian(136, "\xE6\x96\xB0\xE7\xB4\xB0\xE6\x98\x8E\xE9\xAB\x94"); return;
        case 1250: font.charset = 238; break;
        case 1251: font.charset = 204; break;
        case 1252: font.charset = 0; break;
        case 1253: font.charset = 161; break;
        case 1254: font.charset = 162; break;
        case 1255: font.charset = 177; break;
        case 1256: font.charset = 178; break;
        case 1257: font.charset = 186; break;
        default: font.charset = 1; break;
    }
    font.name.clear();
}

void SetFormFont(host::forms::Form& page) {
    static const std::set<long> english = {1033, 2057, 3081, 4105, 5129, 6153, 7177, 8201, 9225, 10249, 11273, 12297, 13321};
    long lcid = host::platform::CurrentLocale().lcid;
    if (english.count(lcid)) return;
    long codePage = GetCodePage(lcid);
    page.font.name.clear();
    for (Control* c : page.Controls()) {
        try {
            SetFontForCodePage(c->font, codePage);
        } catch (...) {
        }
    }
}

}  // namespace pxcp
