// The one step of the C runtime's start-up that the product's own start-up code keeps (SETUP.EXE
// and the package stub leave the runtime's out): running the constructors of the globals.
#pragma once

// The linker lays the constructors of the objects' globals out here: -1, the constructors, 0.
extern "C" void (*__CTOR_LIST__[])();

// Runs them the last first, as GCC's own runner does. Inline: each program calls it once.
inline void RunGlobalConstructors() {
  int count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  for (int i = count; i > 0; --i) __CTOR_LIST__[i]();
}
