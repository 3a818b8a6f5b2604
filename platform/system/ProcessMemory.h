#pragma once

// The program runs all day: what a check over a large folder held only for its own time goes
// back to the system once the check has ended, not kept for the next one.
class ProcessMemory
{
public:
    // Hands the free pages of the memory allocator back to the system.
    static void GiveBackFree();
};
