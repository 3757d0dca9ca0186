"""The bash completion in a real interactive bash: keys typed into a
terminal, TAB pressed, and the completed command line read back (pulvo is a
shell function here that prints its arguments)."""
import os
import pty
import select
import tempfile
import time
import unittest

COMPLETION = os.path.join(os.path.dirname(__file__), "..", "..", "packaging", "completion", "pulvo")


def typed(keys):
    """What `pulvo` received after typing each of `keys` and Enter."""
    with tempfile.NamedTemporaryFile("w", suffix=".rc", delete=False) as rc:
        rc.write("PS1='$ '\nbind 'set bell-style none'\nsource %s\n" % COMPLETION)
        rc.write('pulvo() { echo "ARGS:$*"; }\npulvo-relay() { echo "ARGS:$*"; }\n')
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp("bash", ["bash", "--noprofile", "--rcfile", rc.name, "-i"])
    out = b""

    def read(seconds):
        nonlocal out
        end = time.time() + seconds
        while time.time() < end:
            if select.select([fd], [], [], 0.05)[0]:
                try:
                    out += os.read(fd, 4096)
                except OSError:
                    return

    read(1.0)
    for line in keys:
        os.write(fd, line.encode() + b"\n")
        read(0.6)
    os.write(fd, b"exit\n")
    read(0.5)
    os.waitpid(pid, 0)
    os.unlink(rc.name)
    text = out.decode(errors="replace")
    return [l.split("ARGS:", 1)[1].strip() for l in text.splitlines() if "ARGS:" in l]


class CompletionTest(unittest.TestCase):
    def test_commands_parameters_values_and_options(self):
        cases = [
            ("pulvo sen\tco=GS\t", "send:co=GSM0610"),
            ("pulvo recv:dejit\t", "recv:dejitterlength="),
            ("pulvo send:td=10,fe=n\t", "send:td=10,fe=none"),
            ("pulvo send:la=::1,fe=gsmpiggyback3,co=G7\t", "send:la=::1,fe=gsmpiggyback3,co=G711"),
            ("pulvo analyze:eve\t", "analyze:events="),
            ("pulvo -j recv:lp=50000 --emo\t", "-j recv:lp=50000 --emodel"),
            ("pulvo --json-l\t%s\t" % COMPLETION[:-3], "--json-lines " + COMPLETION),
            ("pulvo-relay --allow-r\t", "--allow-reorder"),
            ("pulvo cal\tra=::1,dejit\t", "call:ra=::1,dejitterlength="),
            ("pulvo reflect:maxs\t", "reflect:maxsessions="),
            ("pulvo pro\tco\t", "probe:config="),
            ("pulvo-relay --back-dr\t", "--back-drop-"),
        ]
        got = typed([keys for keys, _ in cases])
        self.assertEqual(got, [line for _, line in cases])


if __name__ == "__main__":
    unittest.main()
