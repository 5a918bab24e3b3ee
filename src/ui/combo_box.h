#pragma once

#include <string>

#include "transfer/server_list.h"

// The part of a combo box that filling it from the server list needs. A sorted box returns the
// sorted index of the new item, so data and selection go to the index that AddString returned.
// Window's thread.
class ComboBox {
 public:
  virtual ~ComboBox() = default;
  virtual int AddString(const std::string& text) = 0;
  virtual void SetItemData(int index, ServerEntry* entry) = 0;
  virtual void SetCurSel(int index) = 0;
};
