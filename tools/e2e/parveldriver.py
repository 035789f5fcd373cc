# tools/e2e/parveldriver.py — Python client of the driver program.
# Runs `wine driver.exe` in a test session and operates parvel.exe through it.
import os
import queue
import subprocess
import time
import tempfile
import threading


def session_env(state_dir):
    """The environment of the Wine session that cmake/wine-session.sh made."""
    env = dict(os.environ)
    with open(os.path.join(state_dir, "env")) as f:
        for line in f:
            for part in line.replace("export ", "").split():
                if "=" in part:
                    name, value = part.split("=", 1)
                    env[name] = value.strip("'")
    return env


def wine(env, *args, timeout=60):
    return subprocess.run(["wine", *args], env=env, capture_output=True, timeout=timeout)


REG_KEY = r"HKEY_CURRENT_USER\software\dwk\qex"


def set_setting(env, name, value):
    """Writes one value under the program's registry key in the session's prefix."""
    write_settings(env, {name: value})


def write_settings(env, values, clear=False):
    """Writes the values (an int as REG_DWORD, anything else as REG_SZ) under the
    program's key in one registry import, after emptying the key when clear is
    set, and reads them back. A Wine program start fails now and then without a
    word (seen as a non-zero exit of reg.exe with nothing on stderr), so the
    import is tried again until the key holds what was written, three times at
    most."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    if clear:
        lines += ["[-%s]" % REG_KEY, ""]
    lines.append("[%s]" % REG_KEY)
    for name, value in values.items():
        if isinstance(value, int):
            lines.append('"%s"=dword:%08x' % (name, value))
        else:
            lines.append('"%s"="%s"' % (name, str(value).replace("\\", "\\\\").replace('"', '\\"')))
    fd, path = tempfile.mkstemp(suffix=".reg")
    with os.fdopen(fd, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("utf-16"))
    try:
        for attempt in range(3):
            done = wine(env, "regedit", "/S", windows_path(env, path))
            stored = {key.lower(): value for key, value in read_settings(env).items()} if done.returncode == 0 else None
            wanted = {key.lower(): value for key, value in values.items()}
            if stored is not None and (stored == wanted if clear else wanted.items() <= stored.items()):
                return
            time.sleep(1)
    finally:
        os.unlink(path)
    raise DriverError("the settings %r were not written (regedit exit %d): %s" % (
        sorted(values), done.returncode, done.stderr.decode("utf-8", "replace")))


def read_settings(env):
    """Every value under the program's key: an int for a number, a str for a
    text; empty when there is no key."""
    done = wine(env, "reg", "query", r"HKCU\software\dwk\qex")
    values = {}
    if done.returncode != 0:
        return values
    for raw in done.stdout.splitlines():
        try:
            line = raw.decode("utf-8")
        except UnicodeDecodeError:
            line = raw.decode("cp932", "replace")
        parts = line.strip().split(None, 2)
        if len(parts) >= 2 and parts[1].startswith("REG_"):
            value = parts[2] if len(parts) == 3 else ""
            values[parts[0]] = int(value, 16) if parts[1] == "REG_DWORD" else value
    return values


def get_setting(env, name):
    """One value under the program's key, None when the value is not there."""
    lowered = {key.lower(): value for key, value in read_settings(env).items()}
    return lowered.get(name.lower())


def clear_settings(env):
    write_settings(env, {}, clear=True)


def fresh_settings(env, save_folder, **values):
    """Empties the program's key, then stores the save folder (also as the
    shortcut folder), "start" = 2 so that no first-run message waits, and the
    given values."""
    folder = windows_path(env, save_folder)
    write_settings(env, {"folder": folder, "shortcut": folder, "start": 2, **values}, clear=True)


def windows_path(env, unix_path):
    """The path as Wine programs see it: the prefix's drive Z: is the root of
    this machine. Worked out here rather than asked of winepath, whose start
    fails now and then and then prints a message in the console's code page
    instead of the path."""
    drive = os.path.join(env["WINEPREFIX"], "dosdevices", "z:")
    if os.path.realpath(drive) != "/":
        raise DriverError("drive Z: of %s is not the root folder" % env["WINEPREFIX"])
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


def from_one_line(answer):
    """Undoes the driver's escapes of '\\', CR and LF in a text answer."""
    out, i = [], 0
    while i < len(answer):
        if answer[i] == "\\" and i + 1 < len(answer):
            out.append({"r": "\r", "n": "\n"}.get(answer[i + 1], answer[i + 1]))
            i += 2
        else:
            out.append(answer[i])
            i += 1
    return "".join(out)


def window_screenshot(env, driver, path):
    """Saves a PNG of the program's window: the session's screen, cut to the window."""
    left, top, width, height = driver.rect()
    subprocess.run(["import", "-display", env["DISPLAY"], "-window", "root",
                    "-crop", "%dx%d+%d+%d" % (width, height, max(left, 0), max(top, 0)), "+repage", path],
                   env=env, check=True, capture_output=True, timeout=60)
    return path


class DriverError(Exception):
    pass


class Driver:
    """One driver process; every answer is awaited with a time-out, so a test never hangs."""

    def __init__(self, driver_exe, env):
        # The driver process starts with start(): a winepath or reg call made
        # while a fresh driver is still starting up can hang for a minute, and
        # start()'s own argument is usually such a call.
        self.driver_exe, self.env = driver_exe, env
        self.proc = None
        self.answers = queue.Queue()

    def _launch(self):
        self.proc = subprocess.Popen(["wine", self.driver_exe], env=self.env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.answers.put(line.decode("utf-8", "replace").rstrip("\r\n"))

    def send(self, command, timeout=60):
        if self.proc is None:
            self._launch()
        self.proc.stdin.write((command + "\n").encode("utf-8"))
        self.proc.stdin.flush()
        try:
            answer = self.answers.get(timeout=timeout)
        except queue.Empty:
            self.kill()
            raise DriverError("no answer to " + command)
        if not answer.startswith("ok"):
            raise DriverError(command + ": " + answer)
        return answer[3:]

    def start(self, exe, argument=""):
        """Starts the program: "" once its window shows, or "message TEXTS" when a
        message box shows first (answer it, then wait_window())."""
        return self.send("start " + exe + (" " + argument if argument else ""), timeout=90)

    def wait_window(self, ms=60000):
        return self.send("wait-window %d" % ms, timeout=ms / 1000 + 30)

    def set_text(self, control, text):
        return self.send("settext %d %s" % (control, text.replace("\r\n", "\\n").replace("\n", "\\n")))

    def text(self, control):
        return from_one_line(self.send("gettext %d" % control))

    def title(self):
        return from_one_line(self.send("title"))

    def rect(self):
        """The window's left, top, width and height on the screen."""
        return tuple(int(n) for n in self.send("rect").split())

    def click(self, control):
        return self.send("click %d" % control)

    def press(self, control):
        """A real press of a button, check box or radio button."""
        return self.send("press %d" % control)

    def focus(self, control):
        return self.send("focus %d" % control)

    def key(self, virtual_key):
        return self.send("key %d" % virtual_key)

    def menu_open(self):
        return self.send("menu") == "1"

    def dialog(self):
        """The title and static texts of the program's message box or other dialog."""
        return [from_one_line(t) for t in self.send("dialog").split("\x1f")]

    def answer(self, button):
        return self.send("answer %d" % button)

    def alive(self):
        return self.send("alive") == "1"

    def enabled(self, control):
        return self.send("enabled %d" % control) == "1"

    def checked(self, control):
        return self.send("checked %d" % control) == "1"

    def log_lines(self, timeout=60):
        """The access log's lines; a log of 100,000 lines takes minutes under Wine."""
        text = self.send("log", timeout=timeout)
        return text.split("\x1f") if text else []

    def wait_idle(self, ms=60000):
        return self.send("wait-idle %d" % ms, timeout=ms / 1000 + 30)

    def wait_caption(self, text, ms=30000):
        return self.send("wait-caption %d %s" % (ms, text), timeout=ms / 1000 + 30)

    def settle(self, read, wanted, ms=10000):
        """Reads read() until it gives wanted or ms have passed, and returns the
        last reading: the window's parts change one after another, each when
        the run thread reaches it, so a test compares them once they settle."""
        deadline = time.monotonic() + ms / 1000
        got = read()
        while got != wanted and time.monotonic() < deadline:
            time.sleep(0.05)
            got = read()
        return got

    def close(self):
        try:
            return self.send("close", timeout=40)
        finally:
            self.kill()

    def kill(self):
        """Ends the program (if it still runs) and the driver."""
        if self.proc is not None and self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"kill\n")
                self.proc.stdin.flush()
                self.answers.get(timeout=10)
            except (OSError, queue.Empty):
                pass
            self.proc.kill()
            self.proc.wait(timeout=10)
