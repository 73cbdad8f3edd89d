// Types of trvcontrol.js: TRVControl as a global (a plain <script>) or as the
// module's export (require("trvcontrol"), import TRVControl from "trvcontrol").
export = TRVControl;
export as namespace TRVControl;

declare namespace TRVControl {
  /** Why connect() failed (Error.code). */
  type ErrorCode =
    | "control-missing" | "extension-missing" | "host-missing" | "host-exited" | "protocol" | "refused"
    | "outdated" | "cancelled" | "bad-option";

  /** What a waiting connect() reports through onStatus. */
  type Status = "extension-missing" | "host-missing" | "outdated" | "connecting" | "connected";

  /** The piece that must be installed or updated. */
  type Piece = "extension" | "host";

  interface StatusDetail {
    /** The code connect() would fail with now (missing and outdated statuses). */
    code?: ErrorCode;
    /** Where the user gets the missing or outdated piece. */
    url?: string;
    /** For "outdated": which piece is too old. */
    piece?: Piece;
    message?: string;
    /** For "connected" through the extension: the module's version record. */
    version?: string;
  }

  interface ConnectOptions {
    /** The id of the page's <object> (Internet Explorer, Edge's IE mode). */
    object?: string | object;
    /** Keep trying until the pieces are there: true without end, or at most this many ms. */
    wait?: boolean | number;
    /** Called on every change of status while connecting. */
    onStatus?: (status: Status, detail: StatusDetail) => void;
    /** The oldest module the page works with, e.g. "1.0.0.5". */
    minVersion?: string;
    /** How long the extension has to answer (ms, default 1000). */
    ackTimeout?: number;
    /** How long its host has to answer (ms, default 30000). */
    readyTimeout?: number;
    controlUrl?: string;
    extensionUrl?: string;
    hostUrl?: string;
  }

  interface ConnectError extends Error {
    code: ErrorCode;
    url?: string;
    piece?: Piece;
  }

  /** A failed call: hr is the HRESULT (signed 32-bit). */
  interface CallError extends Error {
    hr: number;
  }

  type Handler = {
    InstallCompleteEvent: () => void;
    UpSelectComplete: (strPath: string, strSize: string, strMode: string) => void;
  };

  /** The object connect() resolves with: the twelve methods and the two events. */
  interface Control {
    /** The module's version record, when reached through the extension. */
    version?: string;
    on<K extends keyof Handler>(name: K, handler: Handler[K]): Control;
    CheckInstall(): Promise<void>;
    AllowPopUp(strTemp: string): Promise<void>;
    ShowUpFileDlg(): Promise<void>;
    SelectComplete(strPath: string, strSize: string, strMode: string): Promise<void>;
    UpLoadInit(): Promise<void>;
    UpLoadInfo(strIdx: string): Promise<void>;
    UpLoadEnd(strUserID: string, strUserPW: string): Promise<void>;
    DownLoadInit(): Promise<void>;
    DownLoadInfo(strIdx: string, strPath: string): Promise<void>;
    DownLoadEnd(strUserID: string, strUserPW: string): Promise<void>;
    LauncherExplorer(strUserID: string, strUserPW: string): Promise<void>;
    /** "1" when the link reached the download client, else "0". */
    LauncherWebLink(strUserID: string, strUserPW: string, strWebLink: string): Promise<string>;
  }

  /** connect()'s promise; cancel() ends a wait, rejecting with "cancelled". */
  interface Connecting extends Promise<Control> {
    cancel(): void;
  }

  function connect(options?: ConnectOptions): Connecting;
  /** For the page's event blocks in IE mode. */
  function controlEvent(name: keyof Handler, args: string[]): void;
}
