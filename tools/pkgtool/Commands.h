#pragma once

struct Invocation;

// One function per command; each returns the process exit code.
namespace Commands {

int List(const Invocation &invocation);
int Show(const Invocation &invocation);
int Scan(const Invocation &invocation);
int History(const Invocation &invocation);
int Stats(const Invocation &invocation);
int Tools(const Invocation &invocation);
int Create(const Invocation &invocation);
int Import(const Invocation &invocation);
int AddFile(const Invocation &invocation);
int RemoveFile(const Invocation &invocation);
int Render(const Invocation &invocation);
int Move(const Invocation &invocation);
int Copy(const Invocation &invocation);
int Remove(const Invocation &invocation);
int Demo(const Invocation &invocation);
int Preview(const Invocation &invocation);

} // namespace Commands
