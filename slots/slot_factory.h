#pragma once
// Slot factories: one process-wide maker per slot kind, all chained in one
// global list. A new factory goes to the front of the chain, so the factory
// constructed last is asked first.
//
// Only the chain exists so far; making slots (INewSlot), the resource report
// (Query) and service broadcasts (SelfSignal) arrive with the slot kinds and
// the control messages.
#include <list>

class Slot;

class SlotFactory {
 public:
  SlotFactory();
  // Factories live until the process ends; the chain is never unlinked.
  virtual ~SlotFactory();
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;

  virtual const char* GetName() const = 0;

  // Forgets every occurrence of the slot.
  void Remove(Slot* slot);

  // The factory constructed before this one (the next one asked).
  SlotFactory* next() const { return mNext; }

 protected:
  std::list<Slot*> mSlots;  // the live slots this factory made, not owned

 private:
  SlotFactory* mNext;
};

// Head of the chain: the factory constructed last, null before any.
extern SlotFactory* firstFactory;
