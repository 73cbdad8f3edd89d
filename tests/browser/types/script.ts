// A plain <script> page: the global TRVControl, as in Internet Explorer.
TRVControl.connect({ object: "WebBBS" }).then((control) => control.DownLoadEnd("id", "pw"));
