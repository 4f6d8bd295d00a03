#pragma once
// The program's loaded forms: each window form registers itself while it is
// loaded, so that the main form can unload all the others when it closes.
#include <string>
#include <vector>

namespace tindra {

class Form {
 public:
  virtual ~Form() = default;
  virtual std::u16string FormName() const = 0;
  // Unloads the form; it leaves the registry before this returns.
  virtual void Unload() = 0;
};

class FormRegistry {
 public:
  void Add(Form* form);
  void Remove(Form* form);
  bool Contains(const Form* form) const;
  std::vector<Form*> Snapshot() const { return forms_; }
  size_t size() const { return forms_.size(); }

  // Unloads every loaded form whose upper-cased name differs from the upper-cased
  // `keepName`. Walks a copy taken before the first unload, so the walk reaches
  // every form although the registry shrinks (and skips forms another unload
  // already took away).
  void UnloadAllExcept(const std::u16string& keepName);

 private:
  std::vector<Form*> forms_;
};

// The process-wide registry.
FormRegistry& Forms();

}  // namespace tindra
