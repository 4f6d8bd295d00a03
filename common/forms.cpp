#include "common/forms.h"

#include <algorithm>

#include "common/text.h"

namespace tindra {

void FormRegistry::Add(Form* form) {
  if (!Contains(form)) forms_.push_back(form);
}

void FormRegistry::Remove(Form* form) { std::erase(forms_, form); }

bool FormRegistry::Contains(const Form* form) const {
  return std::find(forms_.begin(), forms_.end(), form) != forms_.end();
}

void FormRegistry::UnloadAllExcept(const std::u16string& keepName) {
  const std::u16string keep = AsciiUpper(keepName);
  for (Form* form : Snapshot()) {
    if (!Contains(form)) continue;
    if (AsciiUpper(form->FormName()) != keep) form->Unload();
  }
}

FormRegistry& Forms() {
  static FormRegistry registry;
  return registry;
}

}  // namespace tindra
