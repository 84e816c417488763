#include "app/dialogs.h"

#include <cstdio>
#include <optional>

#include "app/console.h"
#include "app/japanese_texts.h"
#include "platform/platform.h"

// Where the system has dialogs (Windows) the user chooses in them. Elsewhere the user is asked on
// the terminal, when there is one to ask on; without one, asking counts as a cancel.
namespace sorvik {
namespace {

// Prints `question` and reads one answer line from standard input, without its line break.
// nullopt when the input ends before anything was typed.
std::optional<std::string> AskOnTerminal(const char* question) {
    console::Print("%s", question);
    std::fflush(stdout);
    std::string answer;
    int character = 0;
    while ((character = std::getchar()) != EOF && character != '\n') {
        answer += static_cast<char>(character);
    }
    if (character == EOF && answer.empty()) return std::nullopt;
    if (!answer.empty() && answer.back() == '\r') answer.pop_back();
    return answer;
}

// The typed path, made absolute now: the destination is shown as a full path like a folder
// chosen in a dialog.
std::optional<std::string> AskForPath(const char* question) {
    const std::optional<std::string> answer = AskOnTerminal(question);
    if (!answer || answer->empty()) return std::nullopt;
    return platform::MakeAbsolute(*answer);
}

}  // namespace

bool SelectInputFile(std::string& path) {
    if (platform::kHasFileDialogs) return platform::ShowOpenFileDialog(path);
    if (!platform::CanAskOnTerminal()) return false;
    const std::optional<std::string> chosen = AskForPath("\ninput file (empty to cancel): ");
    if (!chosen) return false;
    path = *chosen;
    return true;
}

FolderChoice SelectOutputFolder(std::string& path) {
    if (platform::kHasFileDialogs) {
        switch (platform::ShowFolderBrowser(texts::kChooseDestinationTitle, path)) {
            case platform::BrowseResult::Chosen:
                return FolderChoice::Chosen;
            case platform::BrowseResult::NoFileSystemPath:
                return FolderChoice::NotAFolder;
            case platform::BrowseResult::Cancelled:
                break;
        }
        return FolderChoice::Cancelled;
    }
    if (!platform::CanAskOnTerminal()) return FolderChoice::Cancelled;
    const std::optional<std::string> chosen =
        AskForPath("destination folder (empty for the input's folder): ");
    if (!chosen) return FolderChoice::Cancelled;
    path = *chosen;
    return FolderChoice::Chosen;
}

}  // namespace sorvik
