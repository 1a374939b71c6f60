#pragma once

// A thread that is already running when the object exists: it calls one
// procedure with one argument and frees itself when the procedure returns.
// Nothing joins it; whoever needs to know that it is done must arrange a flag.
class TSimpleThread {
public:
    using TProcedure = void (*)(void* argument);

    // Starts the thread. Raises std::system_error when no thread can be
    // started; then the procedure has not run.
    static void Start(TProcedure procedure, void* argument);

private:
    TSimpleThread(TProcedure procedure, void* argument)
        : m_procedure(procedure), m_argument(argument) {}
    void Run();

    TProcedure m_procedure;
    void* m_argument;
};
