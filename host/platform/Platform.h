// Platform services: known folders of the user, the help viewer, opening an
// address with the desktop's browser, and the screen metrics pages use.
#pragma once

#include <string>
#include <vector>

namespace host::platform {

// Shell folder ids the library asks for.
enum ShellFolder : int {
    kFolderAppData = 26,        // the user's application data
    kFolderInternetCache = 32,  // scratch files for the browser
    kFolderPersonal = 5,        // documents
};

// Current path of a shell folder; empty on failure. The folder is created.
std::string ShellFolderPath(int folderId);

struct HelpRequest {
    std::string file;
    long command = 0;
    std::string topic;
};
// Opens a help topic of the program's help (see Help.h; the file names
// the help of the platform and is only logged); every request is kept for
// the host's log.
void ShowHelpTopic(long hwnd, const std::string& file, long command, const std::string& topic);
std::vector<HelpRequest>& HelpLog();

// The program that opens a file of this kind; empty when none. Result
// codes follow the platform: above 32 means success.
long FindExecutable(const std::string& file, std::string& executable);
long ShellOpen(const std::string& executable, const std::string& parameters);

// Screen size and caption height, in twips where the pages need them.
struct ScreenMetrics {
    double width = 1920 * 15.0;
    double height = 1080 * 15.0;
    int captionHeightPixels = 22;
    double twipsPerPixelX = 15.0;
    double twipsPerPixelY = 15.0;
};
ScreenMetrics& Screen();

}  // namespace host::platform
