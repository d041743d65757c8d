#include "archive/ArchiverOptions.h"

const std::string kNotSetString(1, '\0');

void TArchiverOptions::Reset() {
  for (Int* v :
       {&a,   &c,  &e,   &f,   &h,   &i,   &l,   &m,  &n,  &o,   &p,   &r,   &s,   &t,   &u,   &x,   &y,   &z,   &jc,
        &jd,  &je, &jf,  &jh,  &ji,  &jm,  &jn,  &jp, &jr, &jsb, &jsc, &jsd, &jse, &jsf, &jsl, &jso, &jss, &jst, &jsv,
        &jsz, &jw, &jyc, &jyd, &jyk, &jyn, &jyo, &ga, &gd, &ge,  &gf,  &gj,  &gm,  &gn,  &go,  &gp,  &gs,  &gu,  &gw})
    *v = -1;
  for (std::string* v : {&w, &jo, &job, &jz, &gr}) *v = kNotSetString;
  jx.clear();
  UserOptions.clear();
  UserFileList.clear();
  ResFileName.clear();
  PackFilter = pfComponent;
  ResFileUsage = {ruOnPack, ruOnUnpack, ruOnRemoveItem};
}

std::vector<std::pair<std::string, std::string>> TArchiverOptions::StoredProperties() const {
  std::vector<std::pair<std::string, std::string>> out;
  auto num = [&out](const char* name, Int v, bool always = false) {
    if (always || v != -1) out.emplace_back(name, std::to_string(v));
  };
  auto str = [&out](const char* name, const std::string& v) { out.emplace_back(name, v); };
  num("a", a);
  num("c", c);
  num("e", e);
  num("f", f);
  num("h", h);
  num("i", i);
  num("l", l);
  num("m", m);
  num("n", n);
  num("o", o);
  num("p", p);
  num("r", r);
  num("s", s);
  num("t", t);
  num("u", u);
  str("w", w);
  num("x", x);
  num("y", y);
  num("z", z);
  num("jc", jc);
  num("jd", jd);
  num("je", je);
  num("jf", jf);
  num("jh", jh);
  num("ji", ji);
  num("jm", jm);
  num("jn", jn);
  str("jo", jo);
  str("job", job);
  num("jp", jp);
  num("jr", jr);
  num("jsb", jsb);
  num("jsc", jsc);
  num("jsd", jsd);
  num("jse", jse);
  num("jsf", jsf);
  num("jsl", jsl);
  num("jso", jso);
  num("jss", jss);
  num("jst", jst);
  num("jsv", jsv);
  num("jsz", jsz);
  num("jw", jw);
  for (const std::string& line : jx) str("jx", line);
  num("jyc", jyc, true);
  num("jyd", jyd);
  num("jyk", jyk);
  num("jyn", jyn);
  num("jyo", jyo);
  str("jz", jz);
  num("ga", ga);
  num("gd", gd);
  num("ge", ge);
  num("gf", gf);
  num("gj", gj);
  num("gm", gm);
  num("gn", gn);
  num("go", go);
  num("gp", gp);
  str("gr", gr);
  num("gs", gs);
  num("gu", gu);
  num("gw", gw);
  str("UserOptions", UserOptions);
  str("UserFileList", UserFileList);
  if (PackFilter != pfComponent) str("PackFilter", "pfArchiver");
  str("ResFileName", ResFileName);
  std::string usage;
  const char* names[] = {"ruOnPack", "ruOnUnpack", "ruOnRemoveItem", "ruOnUpdate"};
  for (int k = 0; k < 4; ++k)
    if (ResFileUsage.Contains(static_cast<TResFileUse>(k))) usage += (usage.empty() ? "" : ",") + std::string(names[k]);
  str("ResFileUsage", "[" + usage + "]");
  return out;
}
