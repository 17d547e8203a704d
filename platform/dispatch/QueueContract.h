#pragma once

namespace dispatch {

class Queue;

// A function whose class says which thread or queue it runs on checks that on entry: a call
// from anywhere else is its caller's fault, one that would otherwise show as a rare race. A
// debug or test build stops the program at once with a message naming the function and the
// queue it expects; a release build writes the same message to standard error and goes on.
void expectMainThread(const char* function);
void expectQueue(const Queue& queue, const char* function);

}  // namespace dispatch

// The checks as a class's entry points use them, naming the function that was called.
#define HYB_EXPECT_MAIN_THREAD() ::dispatch::expectMainThread(__PRETTY_FUNCTION__)
#define HYB_EXPECT_QUEUE(queue) ::dispatch::expectQueue((queue), __PRETTY_FUNCTION__)
