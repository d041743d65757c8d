// The option set's defaults, copying and stored properties; the builder's
// quoting and the flattening of file arguments.
#include <gtest/gtest.h>

#include "archive/CmdOpt.h"

TEST(ArchiverOptionsTest, DefaultsAreUnsetIntsNulStringsAndTheUsualResponseUses) {
  TArchiverOptions o;
  EXPECT_EQ(o.a, -1);
  EXPECT_EQ(o.jyc, -1);
  EXPECT_EQ(o.gw, -1);
  for (const std::string* s : {&o.w, &o.jo, &o.job, &o.jz, &o.gr}) {
    EXPECT_EQ(s->size(), 1u);
    EXPECT_EQ((*s)[0], '\0');
  }
  EXPECT_TRUE(o.jx.empty());
  EXPECT_TRUE(o.UserOptions.empty());
  EXPECT_EQ(o.PackFilter, pfComponent);
  EXPECT_EQ(o.ResFileUsage, (TResFileUsage{ruOnPack, ruOnUnpack, ruOnRemoveItem}));
  EXPECT_FALSE(o.ResFileUsage.Contains(ruOnUpdate));
}

TEST(ArchiverOptionsTest, AssignCopiesListsAndUsageAndResetRestoresDefaults) {
  TArchiverOptions a;
  a.x = 1;
  a.jo = "";
  a.jx = {"a", "b"};
  a.ResFileUsage = {ruOnUpdate};
  a.PackFilter = pfArchiver;
  a.ResFileName = "/r";
  TArchiverOptions b;
  b.Assign(a);
  a.jx.push_back("c");
  EXPECT_EQ(b.x, 1);
  EXPECT_EQ(b.jo, "");
  EXPECT_EQ(b.jx, (TStringList{"a", "b"}));
  EXPECT_EQ(b.ResFileUsage, TResFileUsage{ruOnUpdate});
  EXPECT_EQ(b.PackFilter, pfArchiver);
  EXPECT_EQ(b.ResFileName, "/r");
  b.Reset();
  EXPECT_EQ(b.x, -1);
  EXPECT_TRUE(IsNotSetString(b.jo));
  EXPECT_TRUE(b.jx.empty());
  EXPECT_TRUE(b.ResFileUsage.Contains(ruOnUnpack));
}

TEST(ArchiverOptionsTest, StoredPropertiesKeepSetIntsAndAlwaysJyc) {
  TArchiverOptions o;
  o.c = 0;
  auto names = [](const TArchiverOptions& opts) {
    std::vector<std::string> n;
    for (const auto& [name, value] : opts.StoredProperties()) n.push_back(name);
    return n;
  };
  std::vector<std::string> stored = names(o);
  EXPECT_NE(std::find(stored.begin(), stored.end(), "c"), stored.end());
  EXPECT_NE(std::find(stored.begin(), stored.end(), "jyc"), stored.end());
  EXPECT_EQ(std::find(stored.begin(), stored.end(), "a"), stored.end());
  EXPECT_EQ(std::find(stored.begin(), stored.end(), "PackFilter"), stored.end());
  o.PackFilter = pfArchiver;
  stored = names(o);
  EXPECT_NE(std::find(stored.begin(), stored.end(), "PackFilter"), stored.end());
}

TEST(CmdOptTest, ValuesNumbersFlagsAndFolders) {
  TCmdOpt c;
  c.AddValue("jo", "abc");
  c.AddValue("jo", kNotSetString);
  c.AddValue(" x", "v");  // a leading blank: no dash
  c.AddNumber("a", 1);
  c.AddNumber("a", 0);
  c.AddNumber("a", -1);
  c.AddFlag("q", true);
  c.AddFlag("q", false);
  c.AddDirectory("w", "/tmp/");
  c.AddDirectory("", "/out");
  c.AddDirectory("w", "");
  c.AddDirectory("w", kNotSetString);
  // A folder ending in a multi-byte character still gets its separator.
  c.AddDirectory("", "/データ");
  c.Add("");
  EXPECT_EQ(c.CommandLine, " \"-joabc\" \"xv\" -a1 -a0 -q \"-w/tmp/\" \"/out/\" \"/データ/\" ");
  TCmdOpt s;
  s.QuoteSeparately = true;
  s.AddValue("f", "/a b.tar");
  s.AddValue("", "x");
  EXPECT_EQ(s.CommandLine, " -f \"/a b.tar\" \"x\"");
}

TEST(CmdOptTest, FileArgumentsFlattenInOrderWithoutEmptyNames) {
  TStringList list{"one", "", "two", "three"};
  const char* array[] = {"c1", "", "c2", nullptr};
  TVariant scalar;
  scalar.Value = int64_t(42);
  TVariant varArray;
  varArray.IsArray = true;
  varArray.Array = {std::string("v1"), std::monostate{}, 2.5};
  TFileArgs args{&list,
                 nullptr,
                 std::string(""),
                 "cstr",
                 static_cast<const char*>(nullptr),
                 static_cast<const char* const*>(array),
                 static_cast<const char* const*>(nullptr),
                 scalar,
                 varArray,
                 static_cast<const TStringList*>(nullptr),
                 std::string("one")};
  EXPECT_EQ(FlattenFileArgs(args),
            (std::vector<std::string>{"one", "two", "three", "cstr", "c1", "c2", "42", "v1", "2.5", "one"}));
  TCmdOpt c;
  c.NameConverter = [](const std::string& n) { return "<" + n + ">"; };
  EXPECT_EQ(c.AddFileNames("", TFileArgs{&list}), 3);
  EXPECT_EQ(c.CommandLine, " \"<one>\" \"<two>\" \"<three>\"");
}
