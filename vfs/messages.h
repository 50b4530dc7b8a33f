// The texts the file system shows or throws, in code page 932. In comments, their meaning.
#pragma once

namespace messages {

// "ファイル %s が開けません。" (the file %s cannot be opened), with the name as given.
constexpr char kFilePrompt[] =
    "\x83t\x83@\x83\x43\x83\x8B %s \x82\xAA\x8AJ\x82\xAF\x82\xDC\x82\xB9\x82\xF1\x81\x42";
// "ファイルエラー" (file error), the caption of that prompt.
constexpr char kFilePromptCaption[] = "\x83t\x83@\x83\x43\x83\x8B\x83G\x83\x89\x81[";
// "ファイル %s が開けませんでした。" (the file %s could not be opened), thrown on Abort.
constexpr char kFileAborted[] = "\x83t\x83@\x83\x43\x83\x8B %s \x82\xAA\x8AJ\x82\xAF\x82\xDC"
                                "\x82\xB9\x82\xF1\x82\xC5\x82\xB5\x82\xBD\x81\x42";
// "データ解凍に失敗しました。" (decompressing the data failed).
constexpr char kInflateFailed[] =
    "\x83\x66\x81[\x83^"
    "\x89\xF0\x93\x80\x82\xC9\x8E\xB8\x94s\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x42";

} // namespace messages
