#include "platform/namespace/ContextMenuProvider.h"

#include "platform/namespace/ShellApi.h"

namespace {

ContextMenuProvider& Provider() {
  static ContextMenuProvider provider;
  return provider;
}

}  // namespace

void SetContextMenuProvider(ContextMenuProvider provider) { Provider() = std::move(provider); }

std::unique_ptr<IContextMenu> ProvidedContextMenu(QWidget* owner, std::vector<ContextMenuItem> items,
                                                  uint32_t attributes) {
  if (items.empty() || !Provider()) return nullptr;
  return Provider()(owner, std::move(items), attributes);
}

std::unique_ptr<IContextMenu> IShellFolder::GetContextMenu(QWidget*, int, const PCItemIDList*) { return nullptr; }
