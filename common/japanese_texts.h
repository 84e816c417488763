#pragma once

// The program's own Japanese texts, in UTF-8.
namespace sorvik::texts {

// Missing companion index: caption, and what follows the index file's name in the text.
constexpr char kMissingIndexCaption[] = u8"ファイルが見つかりません";
constexpr char kMissingIndexRequest[] = u8" を\n\nSFSファイルと同じフォルダに置いてください";
// Title of the destination folder browser.
constexpr char kChooseDestinationTitle[] = u8"出力先を指定してください";

}  // namespace sorvik::texts
