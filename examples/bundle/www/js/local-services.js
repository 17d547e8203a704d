// Where the local services that `tools/dev run` starts beside the host are: their usual
// addresses. When they run, tools/run-host gives the host a copy of this bundle in which this
// file names the addresses of that run (the identity service takes another port when its own
// is taken), so the page needs no typing.
window.localServices = {
    signInAuthority: 'https://localhost:8443/example.tenant'
};
