#include "platform/fileops/RenamePattern.h"

#include <QRegularExpression>
#include <QString>
#include <sys/stat.h>
#include <time.h>

#include <map>
#include <set>

#include "platform/namespace/ShellFolderBase.h"

namespace {

constexpr size_t kMaxNameBytes = 255;

bool IsUtf8(const std::string& text) { return QString::fromUtf8(text).toUtf8().toStdString() == text; }

// The UTF-8 characters of text, a stray byte counting as one; so a name
// that is not UTF-8 keeps its bytes through [N2-5].
std::vector<std::string> Characters(const std::string& text) {
  std::vector<std::string> out;
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + len > text.size()) len = 1;
    for (size_t k = 1; k < len; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) len = 1;
    out.push_back(text.substr(i, len));
    i += len;
  }
  return out;
}

void SplitExtension(const RenameSource& source, std::string& base, std::string& ext) {
  size_t dot = source.isFolder ? std::string::npos : source.name.rfind('.');
  // ".profile" is a name, not an extension.
  if (dot == std::string::npos || dot == 0) {
    base = source.name;
    ext.clear();
  } else {
    base = source.name.substr(0, dot);
    ext = source.name.substr(dot + 1);
  }
}

std::string Padded(int64_t value, int width) {
  std::string digits = std::to_string(value < 0 ? -value : value);
  if (width > 0 && digits.size() < size_t(width)) digits.insert(0, size_t(width) - digits.size(), '0');
  return value < 0 ? "-" + digits : digits;
}

// Reads a number at text[i...]; false when there is none.
bool Number(const std::string& text, size_t& i, int64_t& value) {
  size_t start = i;
  bool negative = i < text.size() && text[i] == '-';
  if (negative) ++i;
  value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 12) value = value * 10 + (text[i++] - '0');
  if (i == start + (negative ? 1 : 0)) {
    i = start;
    return false;
  }
  if (negative) value = -value;
  return true;
}

class Expander {
 public:
  Expander(const RenameRule& rule, const RenameSource& source, size_t index)
      : rule_(rule), source_(source), index_(index) {
    SplitExtension(source, base_, ext_);
    time_t t = static_cast<time_t>(source.mtime);
    localtime_r(&t, &tm_);
  }

  bool Expand(const std::string& pattern, std::string& out, std::string& error) {
    for (size_t i = 0; i < pattern.size();) {
      if (pattern[i] != '[') {
        out += pattern[i++];
        continue;
      }
      size_t close = pattern.find(']', i + 1);
      if (pattern.compare(i, 3, "[[]") == 0 || pattern.compare(i, 3, "[]]") == 0) {
        out += pattern[i + 1];
        i += 3;
        continue;
      }
      if (close == std::string::npos) return error = "「[」に対応する「]」がありません。", false;
      std::string field = pattern.substr(i + 1, close - i - 1);
      if (!Field(field, out)) return error = "「[" + field + "]」は使えないパターンです。", false;
      i = close + 1;
    }
    return true;
  }

 private:
  bool Field(const std::string& field, std::string& out) {
    if (field == "N") return out += base_, true;
    if (field == "E") return out += ext_, true;
    if (field == "P") {
      size_t slash = source_.folder.find_last_of('/');
      out += slash == std::string::npos ? source_.folder : source_.folder.substr(slash + 1);
      return true;
    }
    if (field == "Y") return out += Padded(tm_.tm_year + 1900, 4), true;
    if (field == "M") return out += Padded(tm_.tm_mon + 1, 2), true;
    if (field == "D") return out += Padded(tm_.tm_mday, 2), true;
    if (field == "h") return out += Padded(tm_.tm_hour, 2), true;
    if (field == "m") return out += Padded(tm_.tm_min, 2), true;
    if (field == "s") return out += Padded(tm_.tm_sec, 2), true;
    if (field[0] == 'N') return Part(field, out);
    if (field[0] == 'C') return Counter(field, out);
    return false;
  }

  // N2-5, N3, N2-: characters counted from 1.
  bool Part(const std::string& field, std::string& out) {
    size_t i = 1;
    int64_t from = 0, to = 0;
    if (!Number(field, i, from) || from < 1) return false;
    to = from;
    if (i < field.size() && field[i] == '-') {
      ++i;
      if (i == field.size())
        to = INT64_MAX;
      else if (!Number(field, i, to) || to < from)
        return false;
    }
    if (i != field.size()) return false;
    std::vector<std::string> chars = Characters(base_);
    for (int64_t k = from; k <= to && k <= int64_t(chars.size()); ++k) out += chars[size_t(k - 1)];
    return true;
  }

  // C, C:3, C10, C10+5, C10+5:3.
  bool Counter(const std::string& field, std::string& out) {
    int64_t start = rule_.counterStart, step = rule_.counterStep, width = rule_.counterWidth;
    size_t i = 1;
    if (i < field.size() && field[i] != ':' && !Number(field, i, start)) return false;
    if (i < field.size() && field[i] == '+') {
      ++i;
      if (!Number(field, i, step)) return false;
    }
    if (i < field.size() && field[i] == ':') {
      ++i;
      if (!Number(field, i, width) || width < 0 || width > 20) return false;
    }
    if (i != field.size()) return false;
    out += Padded(start + int64_t(index_) * step, int(width));
    return true;
  }

  const RenameRule& rule_;
  const RenameSource& source_;
  size_t index_;
  std::string base_, ext_;
  struct tm tm_ {};
};

bool ReplacePlain(std::string& name, const RenameRule& rule) {
  if (!rule.ignoreCase) {
    std::string out;
    for (size_t i = 0;;) {
      size_t hit = name.find(rule.find, i);
      if (hit == std::string::npos) {
        out += name.substr(i);
        break;
      }
      out += name.substr(i, hit - i) + rule.replace;
      i = hit + rule.find.size();
    }
    name = out;
    return true;
  }
  if (!IsUtf8(name)) return false;
  QString text = QString::fromUtf8(name);
  text.replace(QString::fromUtf8(rule.find), QString::fromUtf8(rule.replace), Qt::CaseInsensitive);
  name = text.toUtf8().toStdString();
  return true;
}

bool ChangeCase(std::string& name, RenameRule::Case letterCase) {
  if (letterCase == RenameRule::Case::Keep) return true;
  if (!IsUtf8(name)) return false;
  QString text = QString::fromUtf8(name);
  if (letterCase == RenameRule::Case::Upper) {
    text = text.toUpper();
  } else {
    text = text.toLower();
    if (letterCase == RenameRule::Case::FirstUpper && !text.isEmpty()) text[0] = text[0].toUpper();
  }
  name = text.toUtf8().toStdString();
  return true;
}

}  // namespace

std::string ExpandRenameRule(const RenameRule& rule, const RenameSource& source, size_t index, std::string* error) {
  std::string why;
  Expander expander(rule, source, index);
  std::string base, ext;
  if (!expander.Expand(rule.namePattern, base, why) || !expander.Expand(rule.extPattern, ext, why)) {
    if (error) *error = why;
    return {};
  }
  std::string name = ext.empty() ? base : base + "." + ext;
  if (!rule.find.empty()) {
    if (rule.regex) {
      QRegularExpression re(QString::fromUtf8(rule.find), rule.ignoreCase ? QRegularExpression::CaseInsensitiveOption
                                                                          : QRegularExpression::NoPatternOption);
      if (!re.isValid()) {
        if (error) *error = "正規表現が正しくありません: " + re.errorString().toStdString();
        return {};
      }
      if (!IsUtf8(name)) {
        if (error) *error = "名前に UTF-8 でない文字があるため、正規表現で置き換えられません。";
        return {};
      }
      name = QString::fromUtf8(name).replace(re, QString::fromUtf8(rule.replace)).toUtf8().toStdString();
    } else if (!ReplacePlain(name, rule)) {
      if (error) *error = "名前に UTF-8 でない文字があるため、大文字と小文字を区別せずには置き換えられません。";
      return {};
    }
  }
  if (!ChangeCase(name, rule.letterCase)) {
    if (error) *error = "名前に UTF-8 でない文字があるため、大文字と小文字を変えられません。";
    return {};
  }
  if (error) error->clear();
  return name;
}

std::vector<RenamePreviewRow> PreviewRename(const RenameRule& rule, const std::vector<RenameSource>& sources) {
  std::vector<RenamePreviewRow> rows(sources.size());
  std::map<std::pair<std::string, std::string>, int> newNames;
  std::set<std::pair<dev_t, ino_t>> batch;
  for (const RenameSource& s : sources) batch.insert({s.dev, s.ino});
  for (size_t i = 0; i < sources.size(); ++i) {
    RenamePreviewRow& row = rows[i];
    row.oldName = sources[i].name;
    std::string error;
    row.newName = ExpandRenameRule(rule, sources[i], i, &error);
    if (!error.empty())
      row.conflict = RenameConflict::BadPattern;
    else if (row.newName.empty())
      row.conflict = RenameConflict::Empty;
    else if (row.newName == "." || row.newName == ".." ||
             row.newName.find_first_of(std::string("/\0", 2)) != std::string::npos)
      row.conflict = RenameConflict::Invalid;
    else if (row.newName.size() > kMaxNameBytes)
      row.conflict = RenameConflict::TooLong;
    ++newNames[{sources[i].folder, row.newName}];
  }
  for (size_t i = 0; i < sources.size(); ++i) {
    RenamePreviewRow& row = rows[i];
    if (row.conflict != RenameConflict::None) continue;
    if (newNames[{sources[i].folder, row.newName}] > 1) {
      row.conflict = RenameConflict::Duplicate;
      continue;
    }
    if (!row.changes()) continue;
    // Taken by an item outside the batch (one of the batch moves away first;
    // on a file system that ignores case the item itself may answer).
    struct stat st;
    std::string path = JoinPath(sources[i].folder, row.newName);
    if (lstat(path.c_str(), &st) == 0 && !batch.count({st.st_dev, st.st_ino})) row.conflict = RenameConflict::Exists;
  }
  return rows;
}

const char* RenameConflictText(RenameConflict conflict) {
  switch (conflict) {
    case RenameConflict::None:
      return "";
    case RenameConflict::Duplicate:
      return "ほかのファイルと同じ名前になります";
    case RenameConflict::Exists:
      return "同じ名前の項目がすでにあります";
    case RenameConflict::Empty:
      return "名前が空です";
    case RenameConflict::Invalid:
      return "使えない名前です";
    case RenameConflict::TooLong:
      return "名前が長すぎます (255 バイトまで)";
    case RenameConflict::BadPattern:
      return "パターンが正しくありません";
  }
  return "";
}

bool AnyRenameConflict(const std::vector<RenamePreviewRow>& rows) {
  for (const RenamePreviewRow& row : rows)
    if (row.conflict != RenameConflict::None) return true;
  return false;
}

bool LookUpRenameSource(const std::string& folder, const std::string& name, RenameSource& source) {
  struct stat st;
  if (lstat(JoinPath(folder, name).c_str(), &st) != 0) return false;
  source.folder = folder;
  source.name = name;
  source.isFolder = S_ISDIR(st.st_mode);
  source.mtime = st.st_mtim.tv_sec;
  source.dev = st.st_dev;
  source.ino = st.st_ino;
  return true;
}
