#pragma once
// The hits of a search as a folder of the namespace. Its ID carries the
// encoded query, so a tab that shows it outlives the program and searches
// again; its rows are PathEntry IDs, so every command sees the files
// themselves. A file that has gone is no row when the folder is read.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/namespace/IDList.h"
#include "platform/search/FileSearch.h"

// The hits of one query (keyed by its encoded form), shared by the search
// that fills them and every folder object that lists them.
class SearchResults {
 public:
  // The store of an encoded query, made empty on first use.
  static std::shared_ptr<SearchResults> Of(const std::string& encodedQuery);
  // Forgets the store (its tab closed); a later Of starts empty.
  static void Drop(const std::string& encodedQuery);

  void Add(std::vector<SearchHit>&& hits);
  void Clear();
  void Rename(const std::string& from, const std::string& to);
  std::vector<SearchHit> Hits() const;
  size_t Count() const;
  // Grows with every change, so a list can tell when to read the folder again.
  uint64_t Generation() const;

 private:
  mutable std::mutex mutex_;
  std::vector<SearchHit> hits_;
  uint64_t generation_ = 0;
};

// Makes the namespace know results folders ("::search?" parsing names).
void RegisterSearchResultsFolders();
// The absolute list of the results folder of a query; the caller owns it.
PItemIDList SearchResultsIDList(const SearchQuery& query);
// The query behind a results folder's absolute list; false for any other list.
bool SearchQueryOf(PCItemIDList absolute, SearchQuery& query);
// What the tab and the folder are called: "検索 *.jpg「語」".
std::string SearchResultsTitle(const SearchQuery& query);
