"""pulvo-plot on fixtures of real runs: a clean test, a lossy one through
pulvo-relay (GSM0610 with FEC), a failed one (time-out), the designed
JSON array, a call through the two-way relay (loss and delay each way), and a
probe of two paths, one of them silent. Run with Debian's python3 (matplotlib):
python3 -m unittest."""

import json
import os
import subprocess
import sys
import tempfile
import types
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "fixtures")
SCRIPT = os.path.join(HERE, "..", "..", "tools", "plot", "pulvo-plot")

# The program has no .py suffix: load its source as a module (its main does
# not run, since the module's name is not __main__).
pulvo_plot = types.ModuleType("pulvo_plot")
with open(SCRIPT, encoding="utf-8") as source:
    exec(compile(source.read(), SCRIPT, "exec"), pulvo_plot.__dict__)


def fixture(name):
    return os.path.join(FIXTURES, name)


def run(*args):
    return subprocess.run([sys.executable, SCRIPT] + list(args), capture_output=True, text=True)


class PulvoPlotTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.dir.cleanup()

    def out(self, name):
        return os.path.join(self.dir.name, name)

    def test_draws_a_picture_per_test_in_both_formats(self):
        for name, ext, magic in [("clean.jsonl", ".png", b"\x89PNG"), ("lossy.jsonl", ".svg", b"<?xml"),
                                 ("failed.jsonl", ".png", b"\x89PNG")]:
            output = self.out(name + ext)
            result = run(fixture(name), "-o", output)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stdout.strip(), output)
            with open(output, "rb") as f:
                self.assertEqual(f.read(len(magic)), magic)
        result = run(fixture("clean.jsonl"), fixture("failed.jsonl"), "-o", self.out("both.png"))
        self.assertEqual(result.stdout.split(), [self.out("both-1.png"), self.out("both-2.png")])

    def test_series_are_the_input_samples(self):
        for name in ("clean.jsonl", "lossy.jsonl"):
            with open(fixture(name)) as f:
                lines = [json.loads(l) for l in f]
            samples = [l for l in lines if l["Event"] == "sample" and l["Command"] == "recv"]
            start = next(l for l in lines if l["Event"] == "start" and l["Command"] == "recv")
            runs = pulvo_plot.load_json_lines([fixture(name)])
            recv = [r for r in runs if r.command == "recv"]
            self.assertEqual(len(recv), 1)
            for key in pulvo_plot.RECV_KEYS:
                self.assertEqual(recv[0].series(key), [s[key] for s in samples], key)
            if name == "lossy.jsonl":  # written by a pulvo that rates windows with the E-model too
                # (listening only: before the conversational rating)
                for key in pulvo_plot.EMODEL_KEYS[:2]:
                    self.assertEqual(recv[0].series(key), [s[key] for s in samples], key)
            t0 = pulvo_plot.parse_time(start["Time"], "")
            self.assertEqual(recv[0].times(),
                             [pulvo_plot.parse_time(s["Time"], "") - t0 for s in samples])
        lossy = pulvo_plot.load_json_lines([fixture("lossy.jsonl")])
        self.assertIn("GSM0610, FEC gsmpiggyback2", pulvo_plot.title(lossy[0], lossy))
        self.assertGreater(sum(next(r for r in lossy if r.command == "recv").series("LostPackets")), 0)

        with open(fixture("array.json")) as f:
            array = json.load(f)
        [run_] = pulvo_plot.load_array(fixture("array.json"), 2.0)
        self.assertEqual(run_.series("MOS"), [s["MOS"] for s in array])
        self.assertEqual(run_.times(), [2.0 * (i + 1) for i in range(len(array))])
        result = run("--array", fixture("array.json"), "--interval", "1", "-o", self.out("a.svg"))
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_a_call_draws_both_directions(self):
        with open(fixture("call.jsonl")) as f:
            lines = [json.loads(l) for l in f]
        [call] = pulvo_plot.load_json_lines([fixture("call.jsonl")])
        self.assertEqual(call.command, "call")
        for direction in pulvo_plot.DIRECTIONS:
            expected = [l for l in lines if l.get("Direction") == direction]
            got = [s for _, s in call.samples if s["Direction"] == direction]
            self.assertEqual([s["LostPackets"] for s in got], [l["LostPackets"] for l in expected])
            self.assertEqual([s["RoundTripMean"] for s in got],
                             [l["RoundTripMean"] for l in expected])
            # The conversational rating, drawn beside the trained model's score.
            self.assertEqual([s["ConversationalMOS"] for s in got],
                             [l["ConversationalMOS"] for l in expected])
        self.assertIn("STAMP reflector 127.0.0.1", pulvo_plot.title(call, [call]))
        # The verdict line belongs to the call, before its end.
        verdict = next(l for l in lines if l["Event"] == "verdict")
        self.assertEqual(call.verdict, verdict)
        self.assertEqual(call.end["Event"], "end")
        result = run(fixture("call.jsonl"), "-o", self.out("call.png"))
        self.assertEqual(result.returncode, 0, result.stderr)
        # The designed array's form of a call: each direction its own ticks.
        array = self.out("call.json")
        with open(array, "w") as f:
            json.dump([{k: v for k, v in l.items() if k not in ("Event", "Time", "Command")}
                       for l in lines if l["Event"] == "sample"], f)
        [from_array] = pulvo_plot.load_array(array, 1.0)
        self.assertEqual(from_array.command, "call")
        self.assertEqual(sorted({t for t, _ in from_array.samples}), [1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0])

    def test_a_probe_draws_each_path_apart(self):
        # pulvo probe --json-lines of two paths, one to a silent reflector.
        with open(fixture("probe.jsonl")) as f:
            lines = [json.loads(l) for l in f]
        runs = pulvo_plot.load_json_lines([fixture("probe.jsonl")])
        self.assertEqual([r.parameters["Path"] for r in runs], ["branch-1", "branch-2"])
        for run_ in runs:
            self.assertEqual(run_.command, "call")
            expected = [l for l in lines if l.get("Path") == run_.parameters["Path"] and
                        l.get("Direction") in pulvo_plot.DIRECTIONS]
            self.assertEqual([s["MOS"] for _, s in run_.samples], [l["MOS"] for l in expected])
            self.assertEqual(run_.end["Event"], "end")
        self.assertEqual(len(runs[1].samples), 0)  # silent windows have no figures
        self.assertIn("pulvo probe, path branch-1", pulvo_plot.title(runs[0], runs))
        result = run(fixture("probe.jsonl"), "-o", self.out("probe.png"))
        self.assertEqual(result.stdout.split(), [self.out("probe-1.png"), self.out("probe-2.png")])
        # A stateless reflector's call: the round trip alone is drawn.
        trip = dict(lines[1], Direction="round-trip", Path="stateless")
        path = self.out("trip.jsonl")
        with open(path, "w") as f:
            f.write("\n".join(json.dumps(l) for l in [lines[0], trip, lines[-1]]) + "\n")
        [stateless] = pulvo_plot.load_json_lines([path])
        self.assertEqual([s["Direction"] for _, s in stateless.samples], ["round-trip"])
        self.assertEqual(run(path, "-o", self.out("trip.png")).returncode, 0)

    def test_a_failed_test_keeps_its_reason(self):
        [failed] = pulvo_plot.load_json_lines([fixture("failed.jsonl")])
        self.assertEqual(failed.samples, [])
        self.assertEqual(failed.end["ExitCode"], 1)
        self.assertTrue(failed.end["Reason"].startswith("TIMEOUT_ERROR"))

    def test_bad_input_is_a_clear_error(self):
        bad = self.out("bad.jsonl")
        cases = [
            ("not json\n", "bad.jsonl line 1: not JSON"),
            ('{"x": 1}\n', "bad.jsonl line 1: not a pulvo JSON lines record"),
            ('{"Event":"sample","Command":"recv","Time":"yesterday"}\n', "line 1: Time 'yesterday'"),
            ('{"Event":"sample","Command":"recv","Time":"2026-12-07T15:34:12.475Z","MOS":"high"}\n',
             "line 1: MOS is not a number"),
            ("", "no pulvo test in it"),
        ]
        for text, message in cases:
            with open(bad, "w") as f:
                f.write(text)
            result = run(bad, "-o", self.out("x.png"))
            self.assertEqual(result.returncode, 2, text)
            self.assertIn(message, result.stderr)
            self.assertNotIn("Traceback", result.stderr)
        for args, message in [([self.out("missing.jsonl")], "cannot read"),
                              (["--array", fixture("clean.jsonl")], "not JSON"),
                              ([fixture("clean.jsonl"), "-o", "/proc/x.png"], "cannot write"),
                              ([fixture("clean.jsonl"), "-o", self.out("x.pdf")], ".png or .svg")]:
            result = run(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(message, result.stderr)
            self.assertNotIn("Traceback", result.stderr)


if __name__ == "__main__":
    unittest.main()
