// The Japanese texts must go out as exactly the code page 932 bytes of their
// wording; the wording here is converted independently with iconv.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "base/messages.h"

namespace dwarfsift {
namespace {

std::string Convert(const char* to, const char* from, std::string_view text) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return "<iconv cannot convert>";
  std::string in(text);
  std::string out(in.size() * 2 + 16, '\0');
  char* in_ptr = in.data();
  char* out_ptr = out.data();
  std::size_t in_left = in.size();
  std::size_t out_left = out.size();
  const std::size_t result = iconv(converter, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(converter);
  if (result == static_cast<std::size_t>(-1)) return "<not convertible>";
  out.resize(out.size() - out_left);
  return out;
}

std::string ToCp932(const std::string& utf8) { return Convert("CP932", "UTF-8", utf8); }

TEST(Messages, JapaneseTextsAreCp932Bytes) {
  const std::string usage =
      "ファイル名が入力されていません。\n"
      ">Dwarfsift Dir\\FileName [-sw][-o Dir\\OutFileName]\n"
      " [-r] ディレクトリ情報を作成しない。\n"
      " [-i] 重複モジュール情報(Inline関数等)を削除する。\n"
      " [-g] スタティック変数をグローバル化する。\n"
      " [-f] 使用しているインクルードファイルを全てTovixに登録する。\n"
      " [-m] 重複情報をTovixにマージする。[-i]時は無効になる。\n"
      " [-s] ラインシンボル情報をソートしない。\n"
      " [-l] ローカルの全シンボル情報を作成しない。\n"
      " [-x] ローカルの構造体シンボル情報を作成しない。\n"
      " [-z] 構造体メンバ-のシンボル情報は作成しない。\n";
  EXPECT_EQ(std::string(texts::kUsage), ToCp932(usage));
  EXPECT_GT(texts::kUsage.size(), 512u);
  EXPECT_EQ(std::string(texts::kTooLong),
            ToCp932("ディレクトリ名およびファイル名が深く長すぎます。！！\n"));
  EXPECT_EQ(std::string(texts::kMissingFileSuffix), ToCp932(" ファイルが有りません！！\n"));
  EXPECT_EQ(std::string(texts::kNotElf),
            ToCp932("指定ファイルはELF/Dwarf2フォーマットでありません。\n"));
}

TEST(Messages, Utf8FormsAreTheCp932TextsConverted) {
  for (const texts::TextForms& forms : texts::kJapaneseTexts) {
    EXPECT_EQ(std::string(forms.utf8), Convert("UTF-8", "CP932", forms.cp932));
  }
}

}  // namespace
}  // namespace dwarfsift
