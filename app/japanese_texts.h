#pragma once

// The program's own Japanese texts, in UTF-8 like every text inside the program. The platform
// layer hands them to the system in its wide form, so they show correctly on any Windows.
namespace sorvik::texts {

// Missing companion index: caption, and what follows the index file's name in the text.
inline constexpr char kMissingIndexCaption[] = u8"ファイルが見つかりません";
inline constexpr char kMissingIndexRequest[] = u8" を\n\nSFSファイルと同じフォルダに置いてください";
// Title of the destination folder browser.
inline constexpr char kChooseDestinationTitle[] = u8"出力先を指定してください";

}  // namespace sorvik::texts
