// A page written against the package's declarations, as a bundler user
// writes it: a method renamed or an argument dropped there fails to compile,
// and so does every @ts-expect-error line the declarations let through.
import TRVControl from "trvcontrol";

const connecting = TRVControl.connect({ wait: 60000, minVersion: "1.0.0.5", onStatus(status, detail) {
  if (status === "outdated" && detail.piece === "host") location.href = detail.url || "";
  // @ts-expect-error not a status
  if (status === "installed") return;
} });
document.onclick = () => connecting.cancel();
connecting.then(async (control) => {
  control.on("UpSelectComplete", (path, size, mode) => path + size + mode).on("InstallCompleteEvent", () => 0);
  await control.CheckInstall();
  await control.AllowPopUp(location.hostname);
  await control.ShowUpFileDlg();
  await control.SelectComplete("C:\\a", "-1", "-1");
  await control.UpLoadInit();
  await control.UpLoadInfo("folder:1");
  await control.UpLoadEnd("id", "pw");
  await control.DownLoadInit();
  await control.DownLoadInfo("1021", "C:\\a.hwp");
  await control.DownLoadEnd("id", "pw");
  await control.LauncherExplorer("id", "pw");
  const delivered: string = await control.LauncherWebLink("", "", "http://x/");
  // @ts-expect-error an argument dropped
  await control.DownLoadInfo("1021");
  // @ts-expect-error a name as another control spells it
  await control.DownloadInit();
  // @ts-expect-error the link's answer is "1" or "0", a string
  const count: number = await control.LauncherWebLink("", "", "x");
  // @ts-expect-error not one of the two events
  control.on("Click", () => 0);
  // @ts-expect-error UpSelectComplete hands strings
  control.on("UpSelectComplete", (size: number) => size);
  return [delivered, count];
}, (error: TRVControl.ConnectError) => {
  // @ts-expect-error not a code connect() fails with
  return error.code === "host-gone" || error.piece === "host";
});
