#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "transfer/server_list.h"

// A combo box that keeps its items sorted, as the window's server box does: the index of a new
// item is where it landed, and item data and the selection travel with their items. Test thread.
class SortedComboBox {
 public:
  struct Item {
    std::string text;
    ServerEntry* entry = nullptr;
  };

  int AddString(const std::string& text) {
    auto at =
        std::upper_bound(items.begin(), items.end(), text,
                         [](const std::string& t, const Item& item) { return t < item.text; });
    int index = static_cast<int>(at - items.begin());
    items.insert(at, Item{text, nullptr});
    if (selected >= index) {
      ++selected;
    }
    return index;
  }
  void SetItemData(int index, ServerEntry* entry) {
    if (Has(index)) {
      items[index].entry = entry;
    }
  }
  void SetCurSel(int index) { selected = Has(index) ? index : -1; }
  bool DeleteString(int index) {
    if (!Has(index)) {
      return false;
    }
    items.erase(items.begin() + index);
    selected = selected == index ? -1 : selected > index ? selected - 1 : selected;
    return true;
  }
  int GetCurSel() const { return selected; }
  ServerEntry* GetItemData(int index) const { return Has(index) ? items[index].entry : nullptr; }

  std::vector<Item> items;
  int selected = -1;

 private:
  bool Has(int index) const { return index >= 0 && index < static_cast<int>(items.size()); }
};
