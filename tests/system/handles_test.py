"""acctl's handle count, the measure of the stress test's leak check, on a
process whose handles the test opens and closes: the count follows them."""

import re
import subprocess
import unittest

from harness import SystemTest


class HandleCount(SystemTest):
    def test_count_follows_the_handles_a_process_opens(self):
        box = self.box
        holder = box.popen(box.folder_win + "\\acctl.exe", "hold", stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        box.others.append(holder)
        pid = re.match(r"pid=(\d+)", holder.stdout.readline()).group(1)

        def count():
            return int(re.match(r"handles=(\d+)", box.acctl("handles", pid)).group(1))

        def hold(n):
            holder.stdin.write("%d\n" % n)
            holder.stdin.flush()
            return int(re.match(r"held=(\d+)", holder.stdout.readline()).group(1))

        base = count()
        self.assertGreater(base, 0)
        self.assertEqual(hold(64), 64)
        self.assertAlmostEqual(count() - base, 64, delta=1)
        self.assertEqual(hold(0), 0)
        self.assertAlmostEqual(count(), base, delta=1)


if __name__ == "__main__":
    unittest.main()
