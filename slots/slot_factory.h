#pragma once
// Slot factories: one process-wide maker per slot kind, all chained in one
// global list. A new factory goes to the front of the chain, so the factory
// constructed last is asked first. Slots offers each create request down the
// chain and takes the first slot made.
#include <list>

#include "messages/LGCP.h"

class Slot;

class SlotFactory {
 public:
  SlotFactory();
  // Factories live until the process ends; the chain is never unlinked.
  virtual ~SlotFactory();
  SlotFactory(const SlotFactory&) = delete;
  SlotFactory& operator=(const SlotFactory&) = delete;

  virtual const char* GetName() const = 0;
  // Makes a slot when the parameters select this factory's kind and it
  // accepts them; null otherwise. The base declines everything.
  virtual Slot* INewSlot(const LGCP::CreateParams& params);
  // Writes this kind's counts into the resource report; the base writes
  // nothing.
  virtual void Query(LGCP::Resources& resources);
  // A service broadcast passed on by Slots (trunk states).
  virtual void SelfSignal(const LGCP::Signal& signal);

  // INewSlot(); a slot made is bound to this factory and listed.
  Slot* NewSlot(const LGCP::CreateParams& params);
  // Forgets every occurrence of the slot.
  void Remove(Slot* slot);

  // The factory constructed before this one (the next one asked).
  SlotFactory* next() const { return mNext; }
  const std::list<Slot*>& slots() const { return mSlots; }

 protected:
  std::list<Slot*> mSlots;  // the live slots this factory made, not owned

 private:
  SlotFactory* mNext;
};

// Head of the chain: the factory constructed last, null before any.
extern SlotFactory* firstFactory;
