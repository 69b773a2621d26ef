"""The forwarding paths compared: each starts its forwarder towards the target port and names its processes."""

import getpass
import json
import os
import re
import shlex
import subprocess
import tempfile

from .processes import descendants, free_port, log_size, wait_for_echo, wait_for_log

# Words of a log line that tells of trouble.
TROUBLE = ("terminate", "what()", "could not", "failed", "Failed", "Error", "error", "Abort", "Segmentation")

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


class Path:
    """A way from a local client to the target. port is where clients connect once start() has returned."""

    key = ""
    label = ""

    def __init__(self):
        self.port = None
        self.details = {}
        self._processes = None
        self._started = []

    def _start(self, processes, name, argv, **options):
        self._processes = processes
        child = processes.start(name, argv, **options)
        self._started.append(child)
        return child

    def stop(self):
        """Stops what start() started (for a fresh start after a crash)."""
        for child in reversed(self._started):
            self._processes.stop(child)
        self._started = []

    def start(self, processes, target_port, work_dir):
        raise NotImplementedError

    def groups(self):
        """Process groups of the forwarder by role ({} for none): {"role": [pid, ...]}, read afresh each time."""
        return {}

    def main_groups(self):
        """The roles that make up the forwarder itself (others, like the relay, are shown apart)."""
        return list(self.groups())

    def main_process(self):
        """The forwarder's process as started (None for the direct path)."""
        return None

    def alive(self):
        process = self.main_process()
        return process is None or process.poll() is None

    def last_words(self):
        """What the forwarder's log says about trouble (a busy log's tail is mostly routine), then its tail."""
        process = self.main_process()
        if process is None or self._processes is None:
            return ""
        with open(self._processes.log_path(process.name), errors="replace") as log:
            lines = log.read().splitlines()
        routine = ("End of file", "reset by peer", "reset programmatically", "calling ports", "call success")
        notable = [line for line in lines if any(word in line for word in TROUBLE)
                   and not any(word in line for word in routine)]
        return "\n".join(dict.fromkeys(notable[-6:] + lines[-2:]))


class DirectPath(Path):
    key, label = "direct", "direct"

    def start(self, processes, target_port, work_dir):
        self.port = target_port


class SocatPath(Path):
    key, label = "socat", "socat"

    def start(self, processes, target_port, work_dir):
        self.port = free_port()
        # bind keeps the relay on loopback; a larger backlog than socat's 5 so bursts of connects are not dropped.
        self._socat = self._start(processes, "socat", [
            "socat", f"TCP-LISTEN:{self.port},bind=127.0.0.1,fork,reuseaddr,nodelay,backlog=1024",
            f"TCP:127.0.0.1:{target_port},nodelay"])
        wait_for_echo(self.port, 10)

    def groups(self):
        return {"socat": descendants(self._socat.pid)}

    def main_process(self):
        return self._socat


class SshPath(Path):
    key, label = "ssh", "ssh -L"

    def start(self, processes, target_port, work_dir):
        folder = tempfile.mkdtemp(prefix="ssh.", dir=work_dir)
        for key in ("host_key", "user_key"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(folder, key)],
                           check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(folder, "user_key.pub")) as public, \
                open(os.path.join(folder, "authorized_keys"), "w") as authorized:
            authorized.write(public.read())
        os.chmod(os.path.join(folder, "authorized_keys"), 0o600)
        ssh_port = free_port()
        config = os.path.join(folder, "sshd_config")
        with open(config, "w") as out:
            out.write("\n".join([
                f"Port {ssh_port}", "ListenAddress 127.0.0.1", f"HostKey {folder}/host_key",
                f"PidFile {folder}/sshd.pid", f"AuthorizedKeysFile {folder}/authorized_keys",
                "UsePAM no", "PermitRootLogin prohibit-password", "PasswordAuthentication no",
                "KbdInteractiveAuthentication no", "StrictModes no", "AllowTcpForwarding yes",
                "X11Forwarding no", "PrintMotd no", "MaxStartups 100:30:200", "LogLevel INFO", ""]))
        # sshd insists on its privilege separation folder, which a machine without a running sshd may lack (only
        # root can make it; sshd run by another user does without).
        try:
            os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        except PermissionError:
            pass
        self._sshd = self._start(processes, "sshd", ["/usr/sbin/sshd", "-D", "-e", "-f", config])
        wait_for_log(processes.log_path("sshd"), f"listening on 127.0.0.1 port {ssh_port}", 10, self._sshd)
        self.port = free_port()
        self._ssh = self._start(processes, "ssh", [
            "ssh", "-v", "-N", "-F", "/dev/null", "-p", str(ssh_port), "-i", f"{folder}/user_key",
            "-o", "IdentitiesOnly=yes", "-o", "BatchMode=yes", "-o", "StrictHostKeyChecking=no",
            "-o", f"UserKnownHostsFile={folder}/known_hosts", "-o", "ExitOnForwardFailure=yes",
            "-L", f"127.0.0.1:{self.port}:127.0.0.1:{target_port}", f"{getpass.getuser()}@127.0.0.1"])
        wait_for_log(processes.log_path("ssh"), f"Local forwarding listening on 127.0.0.1 port {self.port}", 20,
                     self._ssh)
        wait_for_echo(self.port, 10)
        with open(processes.log_path("ssh"), errors="replace") as log:
            found = re.search(r"kex: server->client cipher: (\S+) MAC: (\S+) compression: (\S+)", log.read())
        if found:
            self.details = {"cipher": found.group(1), "mac": found.group(2), "compression": found.group(3)}

    def groups(self):
        return {"ssh client": [self._ssh.pid], "sshd": descendants(self._sshd.pid)}

    def main_process(self):
        return self._ssh


class DaemonPath(Path):
    """VantrelDaemon with corvane-sandbox as the service and relay, whose device port leads to the target."""

    key, label = "daemon", "VantrelDaemon"
    DEVICE = "CRV-SANDBOX-0001"
    REMOTE_PORT = 7000

    def __init__(self, build_dir, wrapper=(), name="daemon"):
        super().__init__()
        self._bin = os.path.join(build_dir, "bin")
        self._wrapper = list(wrapper)
        self._name = name

    def start(self, processes, target_port, work_dir):
        # A folder of its own for each start: a restarted daemon must not find the last one's forwards.
        folder = tempfile.mkdtemp(prefix=f"{self._name}.", dir=work_dir)
        env = dict(os.environ)
        env["VANTREL_BUS_ADDRESS"] = self._start_bus(processes)
        env.update(self._start_sandbox(processes, target_port, folder))
        env.update({"VANTREL_CACHE_DIR": f"{folder}/cache", "VANTREL_CONFIG_DIR": f"{folder}/config",
                    "VANTREL_DOCUMENTS_DIR": f"{folder}/documents", "VANTREL_FINALIZER_PATH": f"{folder}/Tessmark"})
        with open(f"{folder}/Tessmark", "w") as tool:
            tool.write("#!/bin/sh\n")
        since = log_size(processes.log_path(self._name))
        self._daemon = self._start(processes, self._name, self._wrapper + [f"{self._bin}/VantrelDaemon"], env=env)
        slow = 120 if self._wrapper else 20
        wait_for_log(processes.log_path(self._name), "Daemon reviews settings", slow, self._daemon, since)
        self.port = free_port()
        # The forward is made as the application makes it: sign-in, profile, device, then command 101.
        subprocess.run([f"{self._bin}/corvane-demo-client", "--email", "demo@corvane.test",
                        "--password", "demo-password", "--device", self.DEVICE,
                        "--remote-port", str(self.REMOTE_PORT), "--local-port", str(self.port)],
                       env=env, check=True, timeout=slow, stdout=subprocess.DEVNULL)
        wait_for_echo(self.port, slow)

    def _start_bus(self, processes):
        bus = self._start(processes, f"{self._name}-bus", [
            "dbus-daemon", f"--config-file={ROOT}/tests/support/private-bus.conf", "--print-address=1",
            "--nofork"], interactive=True)
        address = bus.lines.next(timeout=10)
        if not address or not address.startswith("unix:"):
            raise RuntimeError("the private message bus did not start")
        return address

    def _start_sandbox(self, processes, target_port, folder):
        with open(f"{ROOT}/sandbox/fixture.json") as default:
            fixture = json.load(default)
        for device in fixture["devices"]:
            if device["serial"] == self.DEVICE:
                device["targets"][str(self.REMOTE_PORT)] = f"127.0.0.1:{target_port}"
        with open(f"{folder}/fixture.json", "w") as out:
            json.dump(fixture, out)
        self._sandbox = self._start(processes, f"{self._name}-sandbox", [
            f"{self._bin}/corvane-sandbox", "--dir", f"{folder}/sandbox", "--fixture", f"{folder}/fixture.json"],
            interactive=True)
        if self._sandbox.lines.next(timeout=30) != "ready":
            raise RuntimeError("corvane-sandbox did not start; see its log")
        env = {}
        with open(f"{folder}/sandbox/env") as exports:
            for line in exports:
                words = shlex.split(line)
                if len(words) == 2 and words[0] == "export":
                    name, _, value = words[1].partition("=")
                    env[name] = value
        return env

    def main_process(self):
        return self._daemon

    def groups(self):
        return {"daemon": [self._daemon.pid], "relay": [self._sandbox.pid]}

    def main_groups(self):
        return ["daemon"]


def all_paths(build_dir):
    return [DirectPath(), SocatPath(), SshPath(), DaemonPath(build_dir)]
